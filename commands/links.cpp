// Commands that send the browser to an address: the image itself, or the
// element's link in this or a new window.
#include "commands/commands.h"

void ViewImage(PluginInstance* instance) {
    if (InstanceUrl(instance)[0] != 0) NPN_GetURL(instance->element.npp, instance->reception.url, "_self");
}

void OpenLink(PluginInstance* instance) {
    if (InstanceUrl(instance)[0] != 0) NPN_GetURL(instance->element.npp, instance->element.href, "_self");
}

void OpenLinkInNewWindow(PluginInstance* instance) {
    if (InstanceUrl(instance)[0] != 0) OpenUrlForUser(instance->element.npp, instance->element.href, "_blank");
}

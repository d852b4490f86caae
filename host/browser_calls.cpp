// The plug-in's two calls into the browser, through the table the browser
// handed to NP_Initialize.
#include "host/host_internal.h"

// After NP_Shutdown (or before NP_Initialize) there is no browser to ask;
// callers then get an empty user agent or a generic error instead of a
// crash, and callers comparing the user agent never see a null text.
const char* NPN_UserAgent(NPP instance) {
    const char* userAgent = nullptr;
    if (BrowserFuncs != nullptr && BrowserFuncs->uagent != nullptr) {
        userAgent = BrowserFuncs->uagent(instance);
    }
    return userAgent != nullptr ? userAgent : "";
}

NPError NPN_GetURL(NPP instance, const char* url, const char* target) {
    if (BrowserFuncs == nullptr || BrowserFuncs->geturl == nullptr) {
        return NPERR_GENERIC_ERROR;
    }
    return BrowserFuncs->geturl(instance, url, target);
}

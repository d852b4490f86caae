// The plug-in's calls into the browser, through the table the browser
// handed to NP_Initialize, and the status line's text as browsers read it.
#include <stddef.h>

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

void NPN_Status(NPP instance, const char* message) {
    if (BrowserFuncs != nullptr && BrowserFuncs->status != nullptr) {
        BrowserFuncs->status(instance, message);
    }
}

// Browsers read the status text as UTF-8 whatever the system's code page,
// while our texts are stored in Shift_JIS; a text cut to fit is still whole
// characters, since the cut is made on UTF-16.
void ShowStatusText(PluginInstance* record, const char* stored) {
    if (InstanceDestroyed(record)) {
        return;
    }
    wchar_t wide[256];
    StoredTextToWide(wide, sizeof wide / sizeof wide[0], stored);
    char utf8[sizeof wide / sizeof wide[0] * 3];
    if (WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8, (int)sizeof utf8, nullptr, nullptr) == 0) {
        utf8[0] = 0;
    }
    NPN_Status(record->element.npp, utf8);
}

// The pair exists from minor version 16 on, in a table long enough to
// hold it.
static int HasPopupState() {
    return BrowserFuncs != nullptr && (BrowserFuncs->version & 0xFF) >= NPVERS_HAS_POPUPS_ENABLED_STATE &&
           BrowserFuncs->size >= offsetof(NPNetscapeFuncs, poppopupsenabledstate) + sizeof(void*) &&
           BrowserFuncs->pushpopupsenabledstate != nullptr && BrowserFuncs->poppopupsenabledstate != nullptr;
}

// The popup-state pair; nothing happens with a browser that lacks it.
static void NPN_PushPopupsEnabledState(NPP instance, NPBool enabled) {
    if (HasPopupState()) {
        BrowserFuncs->pushpopupsenabledstate(instance, enabled);
    }
}

static void NPN_PopPopupsEnabledState(NPP instance) {
    if (HasPopupState()) {
        BrowserFuncs->poppopupsenabledstate(instance);
    }
}

NPError OpenUrlForUser(NPP instance, const char* url, const char* target) {
    NPN_PushPopupsEnabledState(instance, 1);
    NPError result = NPN_GetURL(instance, url, target);
    NPN_PopPopupsEnabledState(instance);
    return result;
}

// Browsers that do not know the variable leave the value alone or say an
// error; an answer outside any real screen's range is taken as none.
int AskContentsScale(NPP instance, double* scaleOut) {
    *scaleOut = 0;
    if (BrowserFuncs == nullptr || BrowserFuncs->getvalue == nullptr ||
        BrowserFuncs->size < offsetof(NPNetscapeFuncs, getvalue) + sizeof(void*)) {
        return 0;
    }
    double scale = 0;
    if (BrowserFuncs->getvalue(instance, NPNVcontentsScaleFactor, &scale) != NPERR_NO_ERROR || !(scale >= 0.5) ||
        !(scale <= 8)) {
        return 0;
    }
    *scaleOut = scale;
    return 1;
}

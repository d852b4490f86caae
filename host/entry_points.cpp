// The exported entry points through which a browser learns the plug-in's
// functions, hands over its own table, and ends the plug-in.
#include "host/entry_points.h"

#include "host/decoder_pool.h"
#include "host/host_internal.h"

NPPluginFuncs* PluginFuncs = nullptr;
NPNetscapeFuncs* BrowserFuncs = nullptr;

// Browsers from this minor version on know urlnotify and javaClass.
static const int UrlNotifyMinorVersion = 9;

// Streams are always delivered in memory, never as files.
void NPP_StreamAsFile(NPP instance, NPStream* stream, const char* fname) {
    (void)instance;
    (void)stream;
    (void)fname;
}

// The plug-in asks for no notified loads; browsers from minor version 9 on
// still expect the slot filled.
void NPP_URLNotify(NPP instance, const char* url, NPReason reason, void* notifyData) {
    (void)instance;
    (void)url;
    (void)reason;
    (void)notifyData;
}

extern "C" NPError WINAPI NP_GetEntryPoints(NPPluginFuncs* pFuncs) {
    if (pFuncs == nullptr) {
        return NPERR_INVALID_FUNCTABLE_ERROR;
    }
    // size and getvalue stay as the browser set them: the plug-in answers no
    // value queries; setvalue hears of a new screen scale.
    pFuncs->version = 11;
    pFuncs->newp = NPP_New;
    pFuncs->destroy = NPP_Destroy;
    pFuncs->setwindow = NPP_SetWindow;
    pFuncs->newstream = NPP_NewStream;
    pFuncs->destroystream = NPP_DestroyStream;
    pFuncs->asfile = NPP_StreamAsFile;
    pFuncs->writeready = NPP_WriteReady;
    pFuncs->write = NPP_Write;
    pFuncs->print = NPP_Print;
    pFuncs->event = nullptr;
    pFuncs->setvalue = NPP_SetValue;
    PluginFuncs = pFuncs;
    return NPERR_NO_ERROR;
}

extern "C" NPError WINAPI NP_Initialize(NPNetscapeFuncs* pFuncs) {
    if (pFuncs == nullptr) {
        return NPERR_INVALID_FUNCTABLE_ERROR;
    }
    BrowserFuncs = pFuncs;
    if ((pFuncs->version >> 8) != 0) {
        return NPERR_INCOMPATIBLE_VERSION_ERROR;
    }
    // A browser that calls NP_Initialize without NP_GetEntryPoints first has
    // no table of ours to complete.
    if ((pFuncs->version & 0xFF) >= UrlNotifyMinorVersion && PluginFuncs != nullptr) {
        PluginFuncs->urlnotify = NPP_URLNotify;
        PluginFuncs->javaClass = nullptr;
    }
    // Nothing process-wide is set up here: the module started when it was
    // loaded, and each instance makes its own record in NPP_New.
    return NPERR_NO_ERROR;
}

extern "C" NPError WINAPI NP_Shutdown(void) {
    BrowserFuncs = nullptr;
    StopDecoderPool();
    return NPERR_NO_ERROR;
}

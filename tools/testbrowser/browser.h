// A stand-in NPAPI browser for tests: loads a plug-in DLL by path and talks
// to it only through the exported entry points and the two function tables.
#ifndef TESTBROWSER_BROWSER_H
#define TESTBROWSER_BROWSER_H

#include <stdint.h>
#include <windows.h>

#include "host/npapi.h"

enum { BrowserMaxUrlRequests = 32 };

// One NPN_GetURL call as the plug-in made it (texts cut to the field size).
struct BrowserUrlRequest {
    NPP instance;
    char url[1024];
    char target[256];
};

struct Browser {
    // What the browser tells the plug-in; set by InitializeBrowser, may be
    // changed before StartPlugin.
    uint16_t version;
    char userAgent[512];
    int printUrlRequests;

    HMODULE module;
    NP_GetEntryPointsFunc getEntryPoints;
    NP_InitializeFunc initialize;
    NP_ShutdownFunc shutdown;

    // The browser owns both tables; the plug-in fills pluginFuncs and keeps
    // a pointer to browserFuncs until NP_Shutdown.
    NPPluginFuncs pluginFuncs;
    NPNetscapeFuncs browserFuncs;
    NPError entryPointsResult;
    NPError initializeResult;
    NPError shutdownResult;
    int initialized;

    BrowserUrlRequest urlRequests[BrowserMaxUrlRequests];
    int urlRequestCount;
    int userAgentCalls;
};

// Zeroes the browser and sets the version and user agent it reports (null
// keeps the default text). Makes it the browser that answers calls the
// plug-in makes without an instance.
void InitializeBrowser(Browser* browser, uint16_t version, const char* userAgent);

// LoadLibraryA and the three exports; 0 (with nothing loaded) when the DLL or
// one of the exports is missing.
int LoadPluginLibrary(Browser* browser, const char* dllPath);

// NP_GetEntryPoints, then NP_Initialize, as Windows browsers call them.
// 1 when both returned NPERR_NO_ERROR; the results stay in the record.
// pluginFuncs is handed over as it is (zero after InitializeBrowser).
int StartPlugin(Browser* browser);

// NP_Shutdown when NP_Initialize succeeded, then FreeLibrary.
void ShutdownPlugin(Browser* browser);

#endif

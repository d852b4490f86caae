// A stand-in NPAPI browser for tests: loads a plug-in DLL by path and talks
// to it only through the exported entry points and the two function tables.
#ifndef TESTBROWSER_BROWSER_H
#define TESTBROWSER_BROWSER_H

#include <stdint.h>
#include <windows.h>

#include "host/npapi.h"

enum { BrowserMaxUrlRequests = 32, BrowserPopupStateDepth = 16 };

// The host the browser imitates. Plain is the gentle stand-in: one
// NPP_SetWindow on a visible window, the stream at once, attributes as
// written. The UXP modes replay how that browser family drives a plug-in,
// in process or (its default) out of process.
enum HostMode { HostPlain = 0, HostUxpInProcess = 1, HostUxpOutOfProcess = 2 };

// "plain", "uxp-inproc", "uxp-oop" (and "uxp", its default, out of process);
// 0 for any other text.
int ParseHostMode(const char* text, int* hostOut);
const char* HostModeName(int host);

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
    int host;
    // Device pixels per CSS pixel the browser answers when asked; 0: it
    // does not answer (as browsers that do not know the question).
    double contentsScale;
    // A plug-in call still running after hangMs is reported as a hang (the
    // UXP browsers show their hang UI at 11 s); out of process, NP_Shutdown
    // comes idleShutdownMs after the last instance went. Tests scale both.
    int hangMs;
    int idleShutdownMs;

    HMODULE module;
    NP_GetEntryPointsFunc getEntryPoints;
    NP_InitializeFunc initialize;
    NP_ShutdownFunc shutdown;

    // The browser owns both tables; the plug-in fills pluginFuncs and keeps
    // a pointer to browserFuncs until NP_Shutdown.
    // The UXP browsers hand over zero-filled tables larger than ours; the
    // tails give them room (the members are laid out back to back).
    NPPluginFuncs pluginFuncs;
    void* pluginFuncsTail[8];
    NPNetscapeFuncs browserFuncs;
    void* browserFuncsTail[24];
    NPError entryPointsResult;
    NPError initializeResult;
    NPError shutdownResult;
    int initialized;

    BrowserUrlRequest urlRequests[BrowserMaxUrlRequests];
    int urlRequestCount;
    int userAgentCalls;

    // NPN_PushPopupsEnabledState stack, and how deep the host is inside a
    // message during which it lets a plug-in open windows.
    NPBool popupStates[BrowserPopupStateDepth];
    int popupStateDepth;
    int userEventDepth;
    int popupsBlocked;

    // Watchdog over plug-in calls (written by the UI thread, read by the
    // watchdog thread): nesting depth, start of the outermost call, its name.
    volatile LONG callDepth;
    volatile LONG callStart;
    const char* volatile callName;
    volatile LONG hangs;
    volatile LONG hangReported;
    HANDLE watchdogThread;
    HANDLE watchdogStop;

    // What the host saw: its subclass found no longer on top when it undid
    // it, NP_Shutdown calls after idling, NPP_Print calls.
    int hostSubclassLost;
    int idleShutdowns;
    int printCalls;

    // The last text the plug-in put on the status line (clearing it keeps
    // it here), each printed as it came when printStatus. Calls the plug-in made with the NPP of an instance
    // already destroyed (a real browser has freed it by then): DestroyInstance
    // points that NPP's ndata at destroyedMark, and each such call is counted
    // and printed.
    char status[512];
    int printStatus;
    // When set, the first text the plug-in puts on the status line plans
    // the destroy of every instance for a moment later (statusDestroy), so
    // that it lands inside the wait the text announces, however fast or
    // slow the machine is.
    void (*statusDestroy)(Browser* browser);
    int callsAfterDestroy;
    char destroyedMark;
};

// Brackets one call into the plug-in for the watchdog; calls may nest (a
// plug-in's modal loop lets the browser call it again).
struct PluginCall {
    Browser* browser;
    PluginCall(Browser* browser, const char* name);
    ~PluginCall();
};

// Whether the plug-in may open a new window now: always in plain mode;
// in UXP modes when the top pushed state allows it, else in process only
// while the host passes a button release or key message to the plug-in.
int PopupsAllowed(const Browser* browser);

// Zeroes the browser and sets the version and user agent it reports (null
// keeps the default text). Makes it the browser that answers calls the
// plug-in makes without an instance.
void InitializeBrowser(Browser* browser, uint16_t version, const char* userAgent);

// Sets the host the browser imitates; UXP modes report version 0x1D.
void SetHostMode(Browser* browser, int host);

// LoadLibraryA and the three exports; 0 (with nothing loaded) when the DLL or
// one of the exports is missing. From then on the browser watches the
// processes the plug-in starts (plugin_children.h).
int LoadPluginLibrary(Browser* browser, const char* dllPath);

// NP_GetEntryPoints, then NP_Initialize, as Windows browsers call them.
// 1 when both returned NPERR_NO_ERROR; the results stay in the record.
// pluginFuncs is handed over as it is (zero after InitializeBrowser) in
// plain mode, zero-filled with the larger size in UXP modes, where the
// browser reports version 0x1D. Starts the watchdog.
int StartPlugin(Browser* browser);

// NP_Shutdown when NP_Initialize succeeded, then FreeLibrary, except out of
// process, where the plug-in's process just ends with the library loaded.
void ShutdownPlugin(Browser* browser);

#endif

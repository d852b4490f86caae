// The stand-in browser's side of NPAPI: loading the plug-in, the browser's
// function table, and the answers to the plug-in's calls.
#include "browser.h"

#include <stdio.h>
#include <string.h>

#include "plugin_children.h"

static const char DefaultUserAgent[] = "Mozilla/5.0 (Windows; U; Windows NT 6.1; en-US) NpapiTestBrowser/1.0";

// NPAPI browser calls carry no browser pointer; an instance carries it in
// ndata, calls without an instance go to the last initialised browser.
static Browser* ActiveBrowser = nullptr;

static Browser* BrowserFromInstance(NPP instance) {
    if (instance != nullptr && instance->ndata != nullptr) {
        return static_cast<Browser*>(instance->ndata);
    }
    return ActiveBrowser;
}

// The browser of a call that needs a live instance; null (the call does
// nothing) for an instance already destroyed, which counts as the plug-in's
// fault.
static Browser* BrowserOfLiveInstance(NPP instance, const char* call) {
    if (ActiveBrowser != nullptr && instance != nullptr && instance->ndata == &ActiveBrowser->destroyedMark) {
        ActiveBrowser->callsAfterDestroy++;
        printf("%s with a destroyed instance\n", call);
        fflush(stdout);
        return nullptr;
    }
    return BrowserFromInstance(instance);
}

static void CopyText(char* destination, size_t size, const char* source) {
    snprintf(destination, size, "%s", source != nullptr ? source : "");
}

static const char* BrowserUserAgent(NPP instance) {
    Browser* browser = BrowserFromInstance(instance);
    if (browser == nullptr) {
        return DefaultUserAgent;
    }
    browser->userAgentCalls++;
    return browser->userAgent;
}

static NPError BrowserGetUrl(NPP instance, const char* url, const char* target) {
    Browser* browser = BrowserOfLiveInstance(instance, "NPN_GetURL");
    if (browser == nullptr) {
        return NPERR_GENERIC_ERROR;
    }
    if (browser->printUrlRequests) {
        printf("GetURL url=\"%s\" target=\"%s\"\n", url != nullptr ? url : "(null)",
               target != nullptr ? target : "(null)");
        fflush(stdout);
    }
    if (browser->urlRequestCount < BrowserMaxUrlRequests) {
        BrowserUrlRequest* request = &browser->urlRequests[browser->urlRequestCount++];
        request->instance = instance;
        CopyText(request->url, sizeof(request->url), url);
        CopyText(request->target, sizeof(request->target), target);
    }
    return NPERR_NO_ERROR;
}

static NPError BrowserGetValue(NPP instance, int variable, void* value) {
    Browser* browser = BrowserOfLiveInstance(instance, "NPN_GetValue");
    if (browser == nullptr || value == nullptr || variable != NPNVcontentsScaleFactor || browser->contentsScale <= 0) {
        return NPERR_GENERIC_ERROR;
    }
    *(double*)value = browser->contentsScale;
    return NPERR_NO_ERROR;
}

static void BrowserStatus(NPP instance, const char* message) {
    Browser* browser = BrowserOfLiveInstance(instance, "NPN_Status");
    if (browser == nullptr) {
        return;
    }
    if (message != nullptr && message[0] != 0) {
        CopyText(browser->status, sizeof(browser->status), message);
        if (browser->statusDestroy != nullptr) {
            void (*destroy)(Browser*) = browser->statusDestroy;
            browser->statusDestroy = nullptr;
            destroy(browser);
        }
    }
    if (browser->printStatus) {
        printf("status: %s\n", message != nullptr ? message : "");
        fflush(stdout);
    }
}

static void BrowserPushPopupsEnabled(NPP instance, NPBool enabled) {
    Browser* browser = BrowserFromInstance(instance);
    if (browser != nullptr && browser->popupStateDepth < BrowserPopupStateDepth) {
        browser->popupStates[browser->popupStateDepth++] = enabled;
    }
}

static void BrowserPopPopupsEnabled(NPP instance) {
    Browser* browser = BrowserFromInstance(instance);
    if (browser != nullptr && browser->popupStateDepth > 0) {
        browser->popupStateDepth--;
    }
}

int PopupsAllowed(const Browser* browser) {
    if (browser->host == HostPlain) {
        return 1;
    }
    if (browser->popupStateDepth > 0) {
        return browser->popupStates[browser->popupStateDepth - 1] != 0;
    }
    return browser->host == HostUxpInProcess && browser->userEventDepth > 0;
}

struct HostModeRow {
    const char* name;
    int host;
};
static const HostModeRow HostModeNames[] = {
    {"plain", HostPlain},
    {"uxp-inproc", HostUxpInProcess},
    {"uxp-oop", HostUxpOutOfProcess},
    {"uxp", HostUxpOutOfProcess},
};

int ParseHostMode(const char* text, int* hostOut) {
    for (const HostModeRow& row : HostModeNames) {
        if (text != nullptr && strcmp(text, row.name) == 0) {
            *hostOut = row.host;
            return 1;
        }
    }
    return 0;
}

const char* HostModeName(int host) {
    for (const HostModeRow& row : HostModeNames) {
        if (row.host == host) {
            return row.name;
        }
    }
    return "?";
}

void SetHostMode(Browser* browser, int host) {
    browser->host = host;
    if (host != HostPlain) {
        browser->version = 0x001D;
    }
}

// The watchdog only reads: a hang is reported once per outermost call.
static DWORD WINAPI WatchdogMain(void* parameter) {
    Browser* browser = static_cast<Browser*>(parameter);
    while (WaitForSingleObject(browser->watchdogStop, 20) == WAIT_TIMEOUT) {
        LONG start = browser->callStart;
        if (browser->hangMs > 0 && browser->callDepth > 0 && !browser->hangReported &&
            (LONG)(GetTickCount() - (DWORD)start) > browser->hangMs) {
            browser->hangReported = 1;
            InterlockedIncrement(&browser->hangs);
            const char* name = browser->callName;
            printf("hang: %s has not returned after %d ms\n", name != nullptr ? name : "?", browser->hangMs);
            fflush(stdout);
        }
    }
    return 0;
}

static void StartWatchdog(Browser* browser) {
    if (browser->watchdogThread != nullptr) {
        return;
    }
    browser->watchdogStop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    browser->watchdogThread = CreateThread(nullptr, 0, WatchdogMain, browser, 0, nullptr);
}

static void StopWatchdog(Browser* browser) {
    if (browser->watchdogThread == nullptr) {
        return;
    }
    SetEvent(browser->watchdogStop);
    WaitForSingleObject(browser->watchdogThread, INFINITE);
    CloseHandle(browser->watchdogThread);
    CloseHandle(browser->watchdogStop);
    browser->watchdogThread = nullptr;
    browser->watchdogStop = nullptr;
}

PluginCall::PluginCall(Browser* browserIn, const char* name) : browser(browserIn) {
    if (browser->callDepth == 0) {
        browser->callName = name;
        browser->hangReported = 0;
        InterlockedExchange(&browser->callStart, (LONG)GetTickCount());
    }
    InterlockedIncrement(&browser->callDepth);
}

PluginCall::~PluginCall() { InterlockedDecrement(&browser->callDepth); }

void InitializeBrowser(Browser* browser, uint16_t version, const char* userAgent) {
    memset(browser, 0, sizeof(*browser));
    browser->version = version;
    browser->hangMs = 11000;
    browser->idleShutdownMs = 30000;
    CopyText(browser->userAgent, sizeof(browser->userAgent), userAgent != nullptr ? userAgent : DefaultUserAgent);
    browser->printUrlRequests = 1;
    ActiveBrowser = browser;
}

int LoadPluginLibrary(Browser* browser, const char* dllPath) {
    StartWatchingChildren();
    HMODULE module = LoadLibraryA(dllPath);
    if (module == nullptr) {
        return 0;
    }
    NP_GetEntryPointsFunc getEntryPoints =
        reinterpret_cast<NP_GetEntryPointsFunc>(reinterpret_cast<void*>(GetProcAddress(module, "NP_GetEntryPoints")));
    NP_InitializeFunc initialize =
        reinterpret_cast<NP_InitializeFunc>(reinterpret_cast<void*>(GetProcAddress(module, "NP_Initialize")));
    NP_ShutdownFunc shutdown =
        reinterpret_cast<NP_ShutdownFunc>(reinterpret_cast<void*>(GetProcAddress(module, "NP_Shutdown")));
    if (getEntryPoints == nullptr || initialize == nullptr || shutdown == nullptr) {
        FreeLibrary(module);
        return 0;
    }
    browser->module = module;
    browser->getEntryPoints = getEntryPoints;
    browser->initialize = initialize;
    browser->shutdown = shutdown;
    return 1;
}

int StartPlugin(Browser* browser) {
    // Plain: pluginFuncs keeps whatever the caller put there beyond its
    // size, so a test can see which members the plug-in leaves alone.
    int uxp = browser->host != HostPlain;
    if (uxp) {
        memset(&browser->pluginFuncs, 0, sizeof(browser->pluginFuncs) + sizeof(browser->pluginFuncsTail));
    }
    browser->pluginFuncs.size =
        (uint16_t)(sizeof(browser->pluginFuncs) + (uxp ? sizeof(browser->pluginFuncsTail) : 0));
    memset(&browser->browserFuncs, 0, sizeof(browser->browserFuncs) + sizeof(browser->browserFuncsTail));
    browser->browserFuncs.size =
        (uint16_t)(sizeof(browser->browserFuncs) + (uxp ? sizeof(browser->browserFuncsTail) : 0));
    browser->browserFuncs.version = browser->version;
    browser->browserFuncs.geturl = BrowserGetUrl;
    browser->browserFuncs.uagent = BrowserUserAgent;
    browser->browserFuncs.getvalue = BrowserGetValue;
    browser->browserFuncs.status = BrowserStatus;
    if ((browser->version & 0xFF) >= NPVERS_HAS_POPUPS_ENABLED_STATE) {
        browser->browserFuncs.pushpopupsenabledstate = BrowserPushPopupsEnabled;
        browser->browserFuncs.poppopupsenabledstate = BrowserPopPopupsEnabled;
    }
    StartWatchdog(browser);

    PluginCall call(browser, "NP_Initialize");
    browser->entryPointsResult = browser->getEntryPoints(&browser->pluginFuncs);
    if (browser->entryPointsResult != NPERR_NO_ERROR) {
        return 0;
    }
    browser->initializeResult = browser->initialize(&browser->browserFuncs);
    browser->initialized = browser->initializeResult == NPERR_NO_ERROR ? 1 : 0;
    return browser->initialized;
}

void ShutdownPlugin(Browser* browser) {
    if (browser->initialized) {
        PluginCall call(browser, "NP_Shutdown");
        browser->shutdownResult = browser->shutdown();
        browser->initialized = 0;
    }
    StopWatchdog(browser);
    if (browser->module != nullptr && browser->host != HostUxpOutOfProcess) {
        FreeLibrary(browser->module);
        browser->module = nullptr;
    }
    browser->getEntryPoints = nullptr;
    browser->initialize = nullptr;
    browser->shutdown = nullptr;
}

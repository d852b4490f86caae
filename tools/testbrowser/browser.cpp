// The stand-in browser's side of NPAPI: loading the plug-in, the browser's
// function table, and the answers to the plug-in's calls.
#include "browser.h"

#include <stdio.h>
#include <string.h>

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
    Browser* browser = BrowserFromInstance(instance);
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

void InitializeBrowser(Browser* browser, uint16_t version, const char* userAgent) {
    memset(browser, 0, sizeof(*browser));
    browser->version = version;
    CopyText(browser->userAgent, sizeof(browser->userAgent), userAgent != nullptr ? userAgent : DefaultUserAgent);
    browser->printUrlRequests = 1;
    ActiveBrowser = browser;
}

int LoadPluginLibrary(Browser* browser, const char* dllPath) {
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
    // pluginFuncs keeps whatever the caller put there beyond its size: a
    // test can see which members the plug-in leaves alone.
    browser->pluginFuncs.size = sizeof(browser->pluginFuncs);
    memset(&browser->browserFuncs, 0, sizeof(browser->browserFuncs));
    browser->browserFuncs.size = sizeof(browser->browserFuncs);
    browser->browserFuncs.version = browser->version;
    browser->browserFuncs.geturl = BrowserGetUrl;
    browser->browserFuncs.uagent = BrowserUserAgent;

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
        browser->shutdownResult = browser->shutdown();
        browser->initialized = 0;
    }
    if (browser->module != nullptr) {
        FreeLibrary(browser->module);
        browser->module = nullptr;
    }
    browser->getEntryPoints = nullptr;
    browser->initialize = nullptr;
    browser->shutdown = nullptr;
}

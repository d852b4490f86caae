// testbrowser.exe: loads a plug-in DLL, initialises it as a browser of the
// given version and user agent, reports each step, and shuts it down.
// Usage: testbrowser [--version N] [--user-agent TEXT] plugin.dll
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "browser.h"

struct Options {
    uint16_t version;
    const char* userAgent;
    const char* dllPath;
};

static int ParseOptions(Options* options, int argc, char** argv) {
    options->version = 0x000B;
    options->userAgent = nullptr;
    options->dllPath = nullptr;
    for (int i = 1; i < argc; i++) {
        if (strcmp(argv[i], "--version") == 0 && i + 1 < argc) {
            options->version = static_cast<uint16_t>(strtoul(argv[++i], nullptr, 0));
        } else if (strcmp(argv[i], "--user-agent") == 0 && i + 1 < argc) {
            options->userAgent = argv[++i];
        } else if (options->dllPath == nullptr && argv[i][0] != '-') {
            options->dllPath = argv[i];
        } else {
            return 0;
        }
    }
    return options->dllPath != nullptr;
}

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(&options, argc, argv)) {
        fprintf(stderr, "usage: testbrowser [--version N] [--user-agent TEXT] plugin.dll\n");
        return 2;
    }
    static Browser browser;
    InitializeBrowser(&browser, options.version, options.userAgent);
    if (!LoadPluginLibrary(&browser, options.dllPath)) {
        printf("load failed: %s (error %lu)\n", options.dllPath, GetLastError());
        return 1;
    }
    int started = StartPlugin(&browser);
    printf("NP_GetEntryPoints: %d\n", browser.entryPointsResult);
    printf("NP_Initialize: %d (browser version 0x%04X)\n", browser.initializeResult, browser.version);
    printf("plug-in table version: %u, urlnotify %s\n", browser.pluginFuncs.version,
           browser.pluginFuncs.urlnotify != nullptr ? "set" : "not set");
    int wasInitialized = browser.initialized;
    ShutdownPlugin(&browser);
    if (wasInitialized) {
        printf("NP_Shutdown: %d\n", browser.shutdownResult);
    }
    return started && browser.shutdownResult == NPERR_NO_ERROR ? 0 : 1;
}

// The one stand-in browser of the unit-level Windows tests: the plug-in's
// code linked into the test program, started once as a browser would start
// the DLL (module start-up, NP_GetEntryPoints, NP_Initialize), with a browser
// table that answers the user agent and records every page request.
// Tests of the DLL itself drive it through the test browser instead.
#ifndef TESTS_WIN_SUPPORT_STAND_IN_BROWSER_H
#define TESTS_WIN_SUPPORT_STAND_IN_BROWSER_H

#include <string>
#include <vector>

#include "host/host_internal.h"

// What the stand-in browser was asked and what it answers.
struct BrowserRecord {
    std::string userAgent;
    std::vector<std::string> urls;
    std::vector<std::string> targets;
};
extern BrowserRecord Browser;

// Once per process; later calls do nothing.
void StartPlugin();
// The user agent it answers until a test changes it.
extern const char* const StandInUserAgent;

#endif

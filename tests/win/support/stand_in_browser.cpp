// The stand-in browser of the unit-level Windows tests.
#include "stand_in_browser.h"

#include "host/entry_points.h"

BrowserRecord Browser;
const char* const StandInUserAgent = "Mozilla/4.0 (unit tests)";

namespace {

NPPluginFuncs PluginFunctions;
NPNetscapeFuncs BrowserFunctions;

const char* AnswerUserAgent(NPP) { return Browser.userAgent.c_str(); }

NPError RecordGetUrl(NPP, const char* url, const char* target) {
    Browser.urls.push_back(url ? url : "(null)");
    Browser.targets.push_back(target ? target : "(null)");
    return NPERR_NO_ERROR;
}

}  // namespace

void StartPlugin() {
    static int started = 0;
    if (started) return;
    started = 1;
    InitializeModule(GetModuleHandleA(NULL));
    Browser.userAgent = StandInUserAgent;
    PluginFunctions.size = sizeof PluginFunctions;
    NP_GetEntryPoints(&PluginFunctions);
    BrowserFunctions.size = sizeof BrowserFunctions;
    BrowserFunctions.version = 0x000B;
    BrowserFunctions.uagent = AnswerUserAgent;
    BrowserFunctions.geturl = RecordGetUrl;
    NP_Initialize(&BrowserFunctions);
}

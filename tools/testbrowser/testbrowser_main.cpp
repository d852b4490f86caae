// testbrowser.exe: loads a plug-in DLL (given, or found as a browser finds
// it) as a browser of the given version and user agent and, given a
// document, shows it: a JPEG 2000 file as a full page or an HTML page's
// <embed> elements, interactively, or headless with screenshots. Without a
// document it only initialises and shuts down. On exit it lists the
// processes the plug-in started, as the system shows them.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "browser.h"
#include "browser_page.h"
#include "dialog_dump.h"
#include "plugin_children.h"
#include "plugin_finder.h"
#include "user_input.h"

static const char Usage[] =
    "usage: testbrowser [--host MODE] [--version N] [--user-agent TEXT] plugin.dll [DOCUMENT]\n"
    "       testbrowser [options] DOCUMENT   (the plug-in found as a browser finds it:\n"
    "         HKCU/HKLM Software\\MozillaPlugins\\*\\Path, %APPDATA%\\Mozilla\\plugins, .\\plugins)\n"
    "  DOCUMENT: a .jp2/.j2k/... file (full page) or an .html page with <embed>/<object> elements\n"
    "  --host plain|uxp-inproc|uxp-oop|uxp   the browser imitated (plain; uxp = uxp-oop)\n"
    "  --hang-ms N         report a plug-in call running longer as a hang (11000)\n"
    "  --idle-shutdown-ms N  out of process: NP_Shutdown this long after the last instance (30000)\n"
    "  --exit-after-stream   close the page once every stream has ended, decode or not, and exit\n"
    "  --size WxH          client size of the window (800x600)\n"
    "  --block N           stream block size in bytes (65536)\n"
    "  --no-length         do not announce the stream length\n"
    "  --order in|reverse|swap   order of the blocks\n"
    "  --end-reason N      reason given to NPP_DestroyStream (0 = done)\n"
    "  --block-delay-ms N  serve messages for N ms after each block (a slow network)\n"
    "  --halfway-screenshot FILE.bmp  save the window when half the blocks have arrived\n"
    "  --quarter-screenshots FILE.bmp  save FILE-1.bmp to FILE-3.bmp when a quarter, half and three\n"
    "                      quarters of the blocks have arrived\n"
    "  --resize WxH        resize the window once the page is shown\n"
    "  --click N           left-click embedded element N (from 0) once shown\n"
    "  --send \"INPUTS\"    once shown, send inputs to the first element, one by one (also into a\n"
    "                      menu or dialog one opened): keys (plus,\n"
    "                      minus, 0-9, a-z, arrows left/right/up/down, pgup, pgdn, home, end, space,\n"
    "                      apps, f1-f12, each with ctrl+/shift+/alt+), wheel-up/-down/-left/-right\n"
    "                      [@X,Y], click@X,Y, drag@X1,Y1-X2,Y2, wait@MS; keys reaching the browser's own\n"
    "                      window are printed as \"browser key: NAME\"\n"
    "  --scale F           device pixels per CSS pixel the browser answers (set Wine's LogPixels\n"
    "                      to 96 x F to match)\n"
    "  --rescale G         once shown, the scale changes to G (told through NPP_SetValue)\n"
    "  --print N FILE.bmp  print embedded element N through NPP_Print into FILE\n"
    "  --destroy-after-ms N  N ms after the page has settled, destroy every instance (also from\n"
    "                      inside a plug-in's menu, dialog or wait) and say where it came\n"
    "  --destroy-on-status  as --destroy-after-ms, 50 ms after the plug-in first puts a text on the\n"
    "                      status line (so inside the wait that text announces)\n"
    "  --screenshot FILE.bmp  save the window (and FILE-2.bmp... for new windows), then exit\n"
    "  --wait-ms N         longest wait for the page to settle (60000)\n"
    "  --dump-dialogs      print the title and every control's text of each dialog opened\n"
    "  --kill-decoders-after-ms N  terminate every process the plug-in started, N ms after the\n"
    "                      page's window opened\n"
    "  on exit: \"plug-in child: NAME bits=N in-job=yes|no\" for each process the plug-in started\n";

struct Options {
    int host;
    int hangMs;
    int idleShutdownMs;
    int exitAfterStream;
    uint16_t version;
    const char* userAgent;
    const char* dllPath;
    const char* document;
    int width, height;
    int resizeWidth, resizeHeight;
    int click;
    const char* send;
    double scale;
    double rescale;
    int printElement;
    const char* printPath;
    int destroyAfterMs;
    int destroyOnStatus;
    const char* screenshotPath;
    int waitMs;
    int dumpDialogs;
    int killChildrenAfterMs;
    StreamOptions stream;
};

static int IsDllPath(const char* text) {
    size_t length = strlen(text);
    return length > 4 && _stricmp(text + length - 4, ".dll") == 0;
}

static int ParseSize(const char* text, int* width, int* height) {
    return sscanf(text, "%dx%d", width, height) == 2 && *width > 0 && *height > 0;
}

static int ParseOrder(const char* text, int* order) {
    static const char* const names[] = {"in", "reverse", "swap"};
    for (int i = 0; i < 3; i++) {
        if (strcmp(text, names[i]) == 0) {
            *order = i;
            return 1;
        }
    }
    return 0;
}

static int ParseOptions(Options* o, int argc, char** argv) {
    *o = Options();
    o->version = 0x000B;
    o->width = 800;
    o->height = 600;
    o->click = -1;
    o->printElement = -1;
    o->waitMs = 60000;
    o->hangMs = 11000;
    o->idleShutdownMs = 30000;
    o->killChildrenAfterMs = -1;
    o->stream = DefaultStreamOptions();
    for (int i = 1; i < argc; i++) {
        const char* a = argv[i];
        int more = i + 1 < argc;
        if (strcmp(a, "--host") == 0 && more) {
            if (!ParseHostMode(argv[++i], &o->host)) return 0;
        } else if (strcmp(a, "--hang-ms") == 0 && more) {
            o->hangMs = atoi(argv[++i]);
        } else if (strcmp(a, "--idle-shutdown-ms") == 0 && more) {
            o->idleShutdownMs = atoi(argv[++i]);
        } else if (strcmp(a, "--exit-after-stream") == 0) {
            o->exitAfterStream = 1;
        } else if (strcmp(a, "--version") == 0 && more) {
            o->version = (uint16_t)strtoul(argv[++i], nullptr, 0);
        } else if (strcmp(a, "--user-agent") == 0 && more) {
            o->userAgent = argv[++i];
        } else if (strcmp(a, "--size") == 0 && more) {
            if (!ParseSize(argv[++i], &o->width, &o->height)) return 0;
        } else if (strcmp(a, "--resize") == 0 && more) {
            if (!ParseSize(argv[++i], &o->resizeWidth, &o->resizeHeight)) return 0;
        } else if (strcmp(a, "--block") == 0 && more) {
            o->stream.blockSize = atoi(argv[++i]);
            if (o->stream.blockSize <= 0) return 0;
        } else if (strcmp(a, "--no-length") == 0) {
            o->stream.announceLength = 0;
        } else if (strcmp(a, "--order") == 0 && more) {
            if (!ParseOrder(argv[++i], &o->stream.order)) return 0;
        } else if (strcmp(a, "--end-reason") == 0 && more) {
            o->stream.endReason = (NPReason)atoi(argv[++i]);
        } else if (strcmp(a, "--block-delay-ms") == 0 && more) {
            o->stream.blockDelayMs = atoi(argv[++i]);
        } else if (strcmp(a, "--halfway-screenshot") == 0 && more) {
            o->stream.halfwayScreenshot = argv[++i];
        } else if (strcmp(a, "--quarter-screenshots") == 0 && more) {
            o->stream.quarterScreenshots = argv[++i];
        } else if (strcmp(a, "--send") == 0 && more) {
            o->send = argv[++i];
        } else if (strcmp(a, "--scale") == 0 && more) {
            o->scale = atof(argv[++i]);
            if (!(o->scale > 0)) return 0;
        } else if (strcmp(a, "--rescale") == 0 && more) {
            o->rescale = atof(argv[++i]);
            if (!(o->rescale > 0)) return 0;
        } else if (strcmp(a, "--click") == 0 && more) {
            o->click = atoi(argv[++i]);
        } else if (strcmp(a, "--print") == 0 && i + 2 < argc) {
            o->printElement = atoi(argv[++i]);
            o->printPath = argv[++i];
        } else if (strcmp(a, "--destroy-after-ms") == 0 && more) {
            o->destroyAfterMs = atoi(argv[++i]);
            if (o->destroyAfterMs <= 0) return 0;
        } else if (strcmp(a, "--destroy-on-status") == 0) {
            o->destroyOnStatus = 1;
        } else if (strcmp(a, "--screenshot") == 0 && more) {
            o->screenshotPath = argv[++i];
        } else if (strcmp(a, "--wait-ms") == 0 && more) {
            o->waitMs = atoi(argv[++i]);
        } else if (strcmp(a, "--dump-dialogs") == 0) {
            o->dumpDialogs = 1;
        } else if (strcmp(a, "--kill-decoders-after-ms") == 0 && more) {
            o->killChildrenAfterMs = atoi(argv[++i]);
            if (o->killChildrenAfterMs < 0) return 0;
        } else if (a[0] == '-') {
            return 0;
        } else if (!o->dllPath && !o->document && IsDllPath(a)) {
            o->dllPath = a;
        } else if (!o->document) {
            o->document = a;
        } else {
            return 0;
        }
    }
    return o->dllPath != nullptr || o->document != nullptr;
}

// Without a DLL named, the one a browser would pick for the document; says
// which and why, or that no plug-in handles it.
static int FindPluginForDocument(const char* document, std::string* dllPath) {
    std::vector<FoundPlugin> plugins = FindPlugins();
    PluginChoice choice = ChoosePluginForDocument(plugins, document);
    if (choice.plugin == nullptr) {
        printf("no plug-in handles %s (%s; %u plug-in(s) found)\n", choice.wanted.c_str(), document,
               (unsigned)plugins.size());
        return 0;
    }
    printf("plug-in for %s: %s (from %s)\n", choice.type.c_str(), choice.plugin->path.c_str(),
           choice.plugin->origin.c_str());
    *dllPath = choice.plugin->path;
    return 1;
}

static PageInstance* ElementAt(int index) {
    const std::vector<BrowserFrame*>& frames = OpenFrames();
    if (frames.empty() || index < 0 || index >= (int)frames[0]->instances.size()) {
        return nullptr;
    }
    return frames[0]->instances[index];
}

static std::string NumberedPath(const char* path, size_t index) {
    if (index == 0) {
        return path;
    }
    std::string text = path;
    size_t dot = text.rfind('.');
    std::string suffix = "-" + std::to_string(index + 1);
    return dot == std::string::npos ? text + suffix : text.substr(0, dot) + suffix + text.substr(dot);
}

// The steps after the page is shown, in the order a person would do them.
static int RunHeadlessSteps(Browser* browser, const Options& o) {
    int ok = 1;
    while (!ChildrenKillDone()) {
        WaitUntilQuiet(0, 20);
    }
    WaitUntilQuiet(500, o.waitMs);
    if (o.destroyAfterMs > 0) {
        DestroyEveryInstanceAfter(browser, o.destroyAfterMs);
    }
    if (o.destroyOnStatus) {
        browser->statusDestroy = DestroyEveryInstanceSoon;
    }
    if (o.click >= 0) {
        PageInstance* element = ElementAt(o.click);
        if (!element) {
            fprintf(stderr, "no element %d to click\n", o.click);
            return 0;
        }
        PostMessageA(element->window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
        PostMessageA(element->window, WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
        WaitUntilQuiet(500, o.waitMs);
    }
    if (o.rescale > 0 && !OpenFrames().empty()) {
        RescaleFrame(OpenFrames()[0], o.rescale);
        WaitUntilQuiet(500, o.waitMs);
    }
    if (o.send) {
        PageInstance* element = ElementAt(0);
        if (!element || !SendUserInput(element, o.send, o.waitMs)) {
            fprintf(stderr, "cannot send: %s\n", o.send);
            return 0;
        }
    }
    if (o.resizeWidth > 0 && !OpenFrames().empty()) {
        ResizeFrame(OpenFrames()[0], o.resizeWidth, o.resizeHeight);
        WaitUntilQuiet(500, o.waitMs);
    }
    if (o.printPath) {
        PageInstance* element = ElementAt(o.printElement);
        ok &= element && PrintElementToFile(element, o.printPath);
        printf("print %d: %s\n", o.printElement, ok ? o.printPath : "failed");
    }
    for (DWORD start = GetTickCount(); !PlannedDestroyDone() && (int)(GetTickCount() - start) < o.waitMs;) {
        WaitUntilQuiet(0, 20);
    }
    for (size_t i = 0; o.screenshotPath && i < OpenFrames().size(); i++) {
        std::string path = NumberedPath(o.screenshotPath, i);
        int saved = SaveFrameScreenshot(OpenFrames()[i], path);
        printf("screenshot: %s\n", saved ? path.c_str() : "failed");
        ok &= saved;
    }
    return ok;
}

// Opens the document's window and does what the options ask, until the
// window is closed or the steps are done; 0 when something failed.
static int ShowDocument(Browser* browser, const Options& options) {
    int shown = 1;
    EnablePageBrowsing(browser);
    if (!OpenFrame(browser, options.document, options.width, options.height, options.stream)) {
        printf("cannot open a window\n");
        return 0;
    }
    if (options.killChildrenAfterMs >= 0) {
        KillChildrenAfter(options.killChildrenAfterMs);
    }
    if (options.exitAfterStream) {
        // The plug-in's process ends while its decode threads may still
        // run: no waiting, and out of process no FreeLibrary.
        for (DWORD start = GetTickCount(); PendingStreams() > 0 && GetTickCount() - start < (DWORD)options.waitMs;) {
            WaitUntilQuiet(0, 20);
        }
    } else if (options.screenshotPath || options.printPath || options.send || options.destroyAfterMs ||
               options.destroyOnStatus) {
        shown = RunHeadlessSteps(browser, options);
    } else {
        RunMessageLoop();
    }
    while (!OpenFrames().empty()) {
        CloseFrame(OpenFrames()[0]);
    }
    return shown;
}

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(&options, argc, argv)) {
        fputs(Usage, stderr);
        return 2;
    }
    std::string foundDll;
    if (!options.dllPath) {
        if (!FindPluginForDocument(options.document, &foundDll)) {
            return 3;
        }
        options.dllPath = foundDll.c_str();
    }
    fflush(stdout);
    // The browsers imitated draw at the screen's DPI themselves rather than
    // letting the system stretch them.
    typedef BOOL(WINAPI * SetProcessDpiAwareFunc)(void);
    SetProcessDpiAwareFunc setDpiAware =
        (SetProcessDpiAwareFunc)(void*)GetProcAddress(GetModuleHandleA("user32.dll"), "SetProcessDPIAware");
    if (setDpiAware) {
        setDpiAware();
    }
    static Browser browser;
    InitializeBrowser(&browser, options.version, options.userAgent);
    SetHostMode(&browser, options.host);
    browser.hangMs = options.hangMs;
    browser.idleShutdownMs = options.idleShutdownMs;
    browser.contentsScale = options.scale;
    browser.printStatus = 1;
    if (options.dumpDialogs) {
        StartDumpingDialogs();
    }
    if (!LoadPluginLibrary(&browser, options.dllPath)) {
        printf("load failed: %s (error %lu)\n", options.dllPath, GetLastError());
        return 1;
    }
    int started = StartPlugin(&browser);
    printf("NP_GetEntryPoints: %d\n", browser.entryPointsResult);
    printf("NP_Initialize: %d (browser version 0x%04X, host %s)\n", browser.initializeResult, browser.version,
           HostModeName(browser.host));
    printf("plug-in table version: %u, urlnotify %s\n", browser.pluginFuncs.version,
           browser.pluginFuncs.urlnotify != nullptr ? "set" : "not set");
    fflush(stdout);
    int shown = started && options.document ? ShowDocument(&browser, options) : 1;
    int wasInitialized = browser.initialized;
    ShutdownPlugin(&browser);
    if (wasInitialized) {
        printf("NP_Shutdown: %d\n", browser.shutdownResult);
    }
    if (browser.hangs > 0) {
        printf("hangs: %ld\n", browser.hangs);
    }
    PrintPluginChildren();
    fflush(stdout);
    return started && shown && browser.shutdownResult == NPERR_NO_ERROR && browser.hangs == 0 &&
                   browser.callsAfterDestroy == 0
               ? 0
               : 1;
}

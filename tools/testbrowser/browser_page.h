// The test browser's documents: frames (top-level windows) that show a
// JPEG 2000 file as a full page or an HTML page's <embed> elements as
// embedded instances, stream each file from disk, follow NPN_GetURL, resize,
// print an element and save screenshots. Only NPAPI reaches the plug-in.
#ifndef TESTBROWSER_BROWSER_PAGE_H
#define TESTBROWSER_BROWSER_PAGE_H

#include <string>
#include <vector>

#include "browser.h"
#include "page.h"

// How a file is delivered: block size, whether NPStream.end announces the
// length, the order of the blocks and the reason NPP_DestroyStream gets.
// In UXP modes the blocks come in order from a timer, blockSize is what the
// network hands over per tick, `end` grows with it when not announced, and
// `held` keeps every stream of the frame closed until ReleaseStreams.
enum { StreamInOrder = 0, StreamReversed = 1, StreamPairsSwapped = 2 };
struct StreamOptions {
    int32_t blockSize;
    int announceLength;
    int order;
    NPReason endReason;
    int held;
    // Plain mode: messages served for blockDelayMs after each block (a slow
    // network), and a screenshot of the frame when half the blocks are in;
    // with quarterScreenshots ("NAME.bmp") three, NAME-1.bmp to NAME-3.bmp,
    // when a quarter, half and three quarters are in.
    int blockDelayMs;
    const char* halfwayScreenshot;
    const char* quarterScreenshots;
};

// Where an instance's stream is (UXP modes; plain mode streams at once).
enum { StreamNotYet = 0, StreamHeld, StreamScheduled, StreamOpen, StreamEnded };

// One stream of a UXP-mode instance, opened late from the event loop.
struct PageStream {
    NPStream stream;
    std::string url;
    std::string mime;
    std::string bytes;
    int state;
    int32_t arrived;
    int32_t bufferSize;
    NPError newResult;
    NPReason endReason;
};
StreamOptions DefaultStreamOptions();

struct BrowserFrame;

struct PageInstance {
    NPP_t npp;
    NPWindow npWindow;
    HWND window;
    BrowserFrame* frame;
    EmbedElement element;
    std::string path;
    NPError newResult;
    int32_t bytesDelivered;
    PageStream stream;
    // The NPP_New arrays and the texts they point into.
    std::vector<std::string> argTexts;
    std::vector<char*> argn;
    std::vector<char*> argv;
    // The host's own subclass (UXP modes): the procedure it calls on.
    WNDPROC hostNext;
    int setWindowCalls;
    int destroyed;
};

struct BrowserFrame {
    Browser* browser;
    HWND window;
    std::string documentPath;
    int fullPage;
    StreamOptions streamOptions;
    std::vector<PageInstance*> instances;
    // Keys that reached the frame's own window (a plug-in passing on a
    // browser shortcut), by name; each is also printed as "browser key:".
    std::vector<std::string> browserKeys;
    // For each of those keys, whether the frame had the focus as it came.
    std::vector<bool> focusedAtKey;
};

// Opens a new top-level frame of the given client size showing the file or
// page (local path or file: URL). Null when the window cannot be made.
BrowserFrame* OpenFrame(Browser* browser, const std::string& document, int width, int height,
                        const StreamOptions& options);

// Replaces the frame's document: every instance is destroyed, new ones made.
void NavigateFrame(BrowserFrame* frame, const std::string& document);

// Destroys the frame's instances and its window.
void CloseFrame(BrowserFrame* frame);

// Every frame still open, oldest first.
const std::vector<BrowserFrame*>& OpenFrames();

// Sets the frame's client size; the instances get NPP_SetWindow again (in
// process UXP first re-parents every plug-in window with no NPP call, as a
// reflow that rebuilds the frame does).
void ResizeFrame(BrowserFrame* frame, int width, int height);

// In process UXP: the tab goes to the background (NPP_SetWindow with an
// empty clip rectangle) or comes back (the full one). Other modes: nothing.
void SetFrameBackground(BrowserFrame* frame, int background);

// The screen's scale changes to `scale` device pixels per CSS pixel: the
// browser answers it from now on and tells every instance of the frame
// through NPP_SetValue.
void RescaleFrame(BrowserFrame* frame, double scale);

// Opens the frame's held streams from the event loop.
void ReleaseStreams(BrowserFrame* frame);

// Destroys one instance as the host does: open stream ended with
// NPRES_USER_BREAK, NPP_Destroy, the host's subclass undone if still on
// top; the window stays until the frame goes.
void DestroyInstance(PageInstance* instance);

// Whether the host's own subclass is the window's procedure now.
int HostSubclassOnTop(const PageInstance* instance);

// Streams scheduled or open in any frame.
int PendingStreams();

// User and kernel time the process and the plug-in's child processes have
// used so far, in seconds.
double ProcessCpuSeconds();

// Serves messages until the process has been idle (no CPU time used by it or
// the plug-in's processes, no message waiting, no stream being delivered)
// for quietMs, or maxMs have passed. 1 when it went quiet.
int WaitUntilQuiet(int quietMs, int maxMs);

// Serves messages until no frame is left (interactive use).
void RunMessageLoop();

// How the browser's own loops dispatch a message (translated first).
void DispatchAsBrowser(const MSG* message);

// `milliseconds` from now every instance of every frame is destroyed
// (DestroyInstance), from a thread timer, so also inside a plug-in's modal
// loop or wait: any loop that dispatches messages runs it. Prints
// "destroyed N instance(s)" and where: inside a plug-in call (named), inside
// a plug-in's message loop, or from the browser's loop.
void DestroyEveryInstanceAfter(Browser* browser, int milliseconds);
// The same 50 ms from now (a status line's hook).
void DestroyEveryInstanceSoon(Browser* browser);
// 1 once the destroy planned has happened, or when none is planned.
int PlannedDestroyDone();

// The width x height pixels at (left, top) of a device context as a 24-bit
// bottom-up .bmp file.
int SaveDcAreaToBmp(HDC source, int left, int top, int width, int height, const std::string& path);

// Client area of the frame, children included, as a 24-bit .bmp file.
int SaveFrameScreenshot(BrowserFrame* frame, const std::string& bmpPath);

// Prints an instance into `printer` at its origin as the host does (see
// PrintElementToFile for each host's calls).
void PrintAsHost(PageInstance* instance, HDC printer);

// Prints an instance into a memory device context of the element's size
// (white page), saved as a 24-bit .bmp file, as the host does: plain, one
// NPP_Print with the element's window; in process UXP, a full page first
// with a null platformPrint, then the embedded print with a null window and
// clip rectangle, twice; out of process, no NPP_Print at all.
int PrintElementToFile(PageInstance* instance, const std::string& bmpPath);

// After StartPlugin: NPN_GetURL is still recorded and printed, and is then
// carried out as a browser does: "_self" (and "_top", "_parent") replaces
// the document of the caller's frame, "_blank" or any other name opens a
// new frame unless PopupsAllowed says no (counted in popupsBlocked); local
// paths and file: URLs load, other URLs are only recorded.
void EnablePageBrowsing(Browser* browser);

#endif

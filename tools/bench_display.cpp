// Benchmark of the display path under Wine: time from NPP_DestroyStream to the
// first painted preview and to the full picture of a 4000 x 4000 RGB image
// and of a 12000 x 12000 grey one (past the sample cap, made here tile by
// tile), against DecodeToPackedDib alone; a page of twelve 4000 x 4000
// images at 150 x 150 (each at its level) against one full decode, and the
// same page with every element needing the whole picture, with the peak
// private bytes of each, and the private bytes before and after printing each
// element of the first page in turn (each print takes the full picture and
// gives it back); peak memory of a
// decode (private bytes, each in a process of its own); how long
// NPP_DestroyStream and NPP_Destroy hold the UI thread, and NPP_Write
// throughput with and without an announced length; and the 4000 x 4000
// image arriving slowly into a 400 x 400 element: when the first partial
// picture shows, what the partial decodes cost, the UI thread's longest hold;
// the 4000 x 4000 image printed on A4 at 300 dpi: the level's decode and
// its pixels against the pixels printed; 256 MiB arriving at once while its
// partial decode waits: the longest NPP_Write and the bytes copied per byte
// received; decoding in the decoder processes against decoding in the
// browser's process (a copy of the DLL in a folder without the decoder),
// each in a run of this program of its own, and how soon NPP_Destroy during
// a full decode ends the decoder running it. Prints figures only.
// Usage: bench_display [npkavrel.dll] [image.j2k] [writes|page|arriving|print|large-arrival|decoder]
//        ("writes": only the NPP_Write figures, the others then read as
//        placeholders; "page": only the page of twelve and a page of eight
//        6600 x 6600; "arriving": only the picture arriving; "print": only
//        the print figure; "large-arrival": only the 256 MiB arrival;
//        "decoder": only the decoder figures; "path-times": the two times
//        the decoder comparison takes from each of its runs)
//        bench_display --peak FILE REDUCE   (one decode; prints its peak)
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <string>
#include <vector>

#include "decode/jpeg2000.h"
#include "decode/print_layout.h"
#include "host/npapi.h"
#include "host/plugin.h"
#include "kind_names.h"
#include "test_files.h"
#include "tests/decode/fixture_encoder.h"

namespace {

const int Side = 4000;
const int Runs = 3;

NPPluginFuncs Plugin;
NPNetscapeFuncs Browser;
HWND PluginWindow;
LARGE_INTEGER Frequency;
HHOOK PaintHook;
HHOOK MessageHook;
UINT DecodeProgress;
// The time the paint hook spent reading pixels: the benchmark's, not the
// plug-in's.
double ProbeSeconds;

double Now() {
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return (double)counter.QuadPart / (double)Frequency.QuadPart;
}

const char* UserAgent(NPP) { return "bench_display"; }
NPError GetUrl(NPP, const char*, const char*) { return NPERR_NO_ERROR; }
// When the plug-in last put a status line up and took it down: a command's
// wait for the picture it needs.
double StatusShown, StatusCleared;
void RecordStatus(NPP, const char* message) { (message[0] != 0 ? StatusShown : StatusCleared) = Now(); }

// Whether a pixel near a window's bottom-right corner belongs to the image
// rather than to the status box or background (black, white, gray).
typedef bool (*ImagePixelTest)(COLORREF pixel);
// The RGB picture's red is well above its blue everywhere but near the top
// row and left column; the status box and backgrounds are grey.
bool IsColourImagePixel(COLORREF pixel) { return GetRValue(pixel) > GetBValue(pixel) + 20; }
const int GreyCornerLevel = 77;
bool IsGreyImagePixel(COLORREF pixel) {
    return abs(GetRValue(pixel) - GreyCornerLevel) < 8 && GetRValue(pixel) == GetBValue(pixel);
}

// One plug-in window watched by the hooks: the decode-finished messages it
// got (the first of a previewed picture is its preview), when its image was
// first painted and when the full picture was.
struct Watched {
    HWND window;
    int side;
    ImagePixelTest isImage;
    int messagesForFull;
    int finishedMessages;
    double fullMessage;
    double firstPaint;
    double fullPaint;
};
Watched WatchedWindows[12];
int WatchedCount;

Watched* FindWatched(HWND window) {
    for (int i = 0; i < WatchedCount; ++i) {
        if (WatchedWindows[i].window == window) {
            return &WatchedWindows[i];
        }
    }
    return NULL;
}

LRESULT CALLBACK BeforeMessage(int code, WPARAM wParam, LPARAM lParam) {
    const MSG* message = (const MSG*)lParam;
    Watched* watched = code == HC_ACTION && wParam == PM_REMOVE ? FindWatched(message->hwnd) : NULL;
    // wParam 1: a preview or the picture was published (0: a decode began).
    if (watched && message->message == DecodeProgress && message->wParam == 1 &&
        ++watched->finishedMessages == watched->messagesForFull) {
        watched->fullMessage = Now();
    }
    return CallNextHookEx(MessageHook, code, wParam, lParam);
}

LRESULT CALLBACK AfterWindowCall(int code, WPARAM wParam, LPARAM lParam) {
    const CWPRETSTRUCT* call = (const CWPRETSTRUCT*)lParam;
    Watched* watched = code == HC_ACTION && call->message == WM_PAINT ? FindWatched(call->hwnd) : NULL;
    if (watched) {
        double start = Now();
        HDC dc = GetDC(watched->window);
        COLORREF pixel = GetPixel(dc, watched->side - 5, watched->side - 5);
        ReleaseDC(watched->window, dc);
        if (pixel != CLR_INVALID && watched->isImage(pixel)) {
            double now = Now();
            if (watched->firstPaint == 0) {
                watched->firstPaint = now;
            }
            if (watched->fullPaint == 0 && watched->finishedMessages >= watched->messagesForFull) {
                watched->fullPaint = now;
            }
        }
        ProbeSeconds += Now() - start;
    }
    return CallNextHookEx(PaintHook, code, wParam, lParam);
}

void Watch(HWND window, int side, ImagePixelTest isImage, int hasPreview) {
    Watched watched = {window, side, isImage, hasPreview ? 2 : 1, 0, 0, 0, 0};
    WatchedWindows[WatchedCount++] = watched;
}

int KindOf(const std::vector<uint8_t>& file) { return ClassifyFileKind(file.data(), (uint32_t)file.size()); }

// What a file is, for the figures' headings: its size, kind and bytes.
std::string DescribeFile(const std::vector<uint8_t>& file) {
    DecodePlan plan = {};
    int kind = KindOf(file);
    char text[160];
    if (PlanDecode(&plan, NULL, kind, file.data(), (int32_t)file.size())) {
        snprintf(text, sizeof text, "%ux%u %s of %u components, %u bytes", plan.fullWidth, plan.fullHeight,
                 NameFileKind(kind), plan.componentCount, (unsigned)file.size());
    } else {
        snprintf(text, sizeof text, "%s that does not plan, %u bytes", NameFileKind(kind), (unsigned)file.size());
    }
    return text;
}

// The large grey picture: a level per 1000-pixel block with a gentle ramp,
// and the bottom-right corner one flat level the paint check looks for.
// `scale` pixels of the picture per pixel of the tile grid (2: the same
// picture at half size).
uint8_t LargeGreyLevel(uint32_t x, uint32_t y) {
    if (x >= 10000 && y >= 10000) {
        return GreyCornerLevel;
    }
    return (uint8_t)(x / 1000 * 17 + y / 1000 * 5 + ((x + y) >> 5 & 15));
}

template <int Scale>
void FillLargeGrey(uint8_t* samples, uint32_t, uint32_t x0, uint32_t y0, uint32_t width, uint32_t height) {
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            samples[(size_t)y * width + x] = LargeGreyLevel((x0 + x) * Scale, (y0 + y) * Scale);
        }
    }
}

// The file at path, or the picture encoded tile by tile into it (once).
std::vector<uint8_t> MakeGreyImage(const std::string& path, uint32_t side, FillTile fill) {
    std::vector<uint8_t> bytes = FileBytes(path);
    if (bytes.empty()) {
        printf("encoding a %ux%u grey image tile by tile into %s (once)...\n", side, side, path.c_str());
        bytes = EncodeTiled(side, side, 1, side / 12, fill);
        WriteFileBytes(path, bytes);
    }
    return bytes;
}

std::vector<uint8_t> MakeBenchImage(const std::string& path, int side = Side) {
    std::vector<uint8_t> bytes = FileBytes(path);
    if (!bytes.empty()) {
        return bytes;
    }
    printf("encoding a %dx%d RGB image into %s (once)...\n", side, side, path.c_str());
    FixtureImage image;
    image.width = side;
    image.height = side;
    image.components.assign(3, FixtureComponent{8, 0, 1, 1});
    image.samples.assign(3, std::vector<int32_t>((size_t)side * side));
    for (int y = 0; y < side; ++y) {
        for (int x = 0; x < side; ++x) {
            uint32_t h = (uint32_t)x * 2654435761u ^ (uint32_t)y * 40503u;
            size_t i = (size_t)y * side + x;
            image.samples[0][i] = (x / 4 + (int)(h & 15)) & 255;
            image.samples[1][i] = (y / 4 + (int)(h >> 8 & 15)) & 255;
            image.samples[2][i] = ((x ^ y) / 8) & 255;
        }
    }
    image.lossy = 1;
    image.rate = 10.0;
    image.tiled = 0;
    bytes = EncodeFixture(image, "bench");
    WriteFileBytes(path, bytes);
    return bytes;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void Pump() {
    MSG message;
    while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
        DispatchMessageA(&message);
    }
}

// One instance from NPP_New to an ended stream; the timings of its calls.
struct InstanceRun {
    NPP_t npp;
    NPStream stream;
    NPWindow window;
    double destroyStreamSeconds;
    double streamEndedAt;
};

// NPP_New, the window and a stream announcing `end` bytes (0: none).
void OpenInstance(InstanceRun* run, HWND window, int side, uint32_t end) {
    memset(run, 0, sizeof *run);
    char mime[] = "image/x-j2c";
    Plugin.newp(mime, &run->npp, NP_EMBED, 0, NULL, NULL, NULL);
    run->window.window = window;
    run->window.width = (uint32_t)side;
    run->window.height = (uint32_t)side;
    Plugin.setwindow(&run->npp, &run->window);
    Pump();
    run->stream.url = "bench.j2k";
    run->stream.end = end;
    uint16_t type = 0;
    Plugin.newstream(&run->npp, mime, &run->stream, 0, &type);
}

// OpenInstance and the whole file written; the stream still open.
void FeedInstance(InstanceRun* run, HWND window, int side, const std::vector<uint8_t>& file, int announce,
                  int32_t block) {
    OpenInstance(run, window, side, announce ? (uint32_t)file.size() : 0);
    for (int32_t offset = 0; offset < (int32_t)file.size(); offset += block) {
        int32_t length = std::min<int32_t>(block, (int32_t)file.size() - offset);
        Plugin.writeready(&run->npp, &run->stream);
        Plugin.write(&run->npp, &run->stream, offset, length, (void*)(file.data() + offset));
    }
}

void EndStream(InstanceRun* run) {
    double start = Now();
    Plugin.destroystream(&run->npp, &run->stream, NPRES_DONE);
    run->streamEndedAt = Now();
    run->destroyStreamSeconds = run->streamEndedAt - start;
}

void StreamInstance(InstanceRun* run, const std::vector<uint8_t>& file, int announce, int32_t block) {
    FeedInstance(run, PluginWindow, 400, file, announce, block);
    EndStream(run);
}

// Pumps until every watched window shows its full picture (or a minute
// passes without it).
void WaitForFullPictures(double since) {
    for (;;) {
        int pending = 0;
        for (int i = 0; i < WatchedCount; ++i) {
            pending += WatchedWindows[i].fullPaint == 0;
        }
        if (pending == 0 || Now() - since > 120) {
            return;
        }
        MsgWaitForMultipleObjects(0, NULL, FALSE, 1, QS_ALLINPUT);
        Pump();
    }
}

// Stream end to the first painted preview and to the full picture, medians.
struct PictureTimes {
    double first;
    double full;
    double paint;  // from the full picture's message to its paint
};

PictureTimes TimePictures(const std::vector<uint8_t>& file, ImagePixelTest isImage) {
    DecodePlan plan = {};
    PlanDecode(&plan, NULL, KindOf(file), file.data(), (int32_t)file.size());
    std::vector<double> first, full, paint;
    // The element's own level; a preview only when that level is large.
    int level = ChooseViewReduce(plan.fullWidth, plan.fullHeight, 400, 400, plan.shownReduce, plan.maxReduce);
    for (int i = 0; i < Runs; ++i) {
        WatchedCount = 0;
        Watch(PluginWindow, 400, isImage, plan.previewReduce >= level + 2);
        InstanceRun run;
        FeedInstance(&run, PluginWindow, 400, file, 1, 65536);
        EndStream(&run);
        WaitForFullPictures(run.streamEndedAt);
        first.push_back(WatchedWindows[0].firstPaint - run.streamEndedAt);
        full.push_back(WatchedWindows[0].fullPaint - run.streamEndedAt);
        paint.push_back(WatchedWindows[0].fullPaint - WatchedWindows[0].fullMessage);
        Plugin.destroy(&run.npp, NULL);
        Pump();
    }
    WatchedCount = 0;
    PictureTimes times = {Median(first), Median(full), Median(paint)};
    return times;
}

double TimeDecodeAlone(const std::vector<uint8_t>& file) {
    std::vector<double> alone;
    for (int i = 0; i < Runs; ++i) {
        uint8_t* dib = NULL;
        double start = Now();
        int ok = DecodeToPackedDib(&dib, file.data(), (int32_t)file.size());
        alone.push_back(ok ? Now() - start : 0);
        free(dib);
    }
    return Median(alone);
}

void PrintPictureFigures(const char* name, const std::vector<uint8_t>& file, ImagePixelTest isImage) {
    double alone = TimeDecodeAlone(file);
    PictureTimes times = TimePictures(file, isImage);
    printf("%s:\n", name);
    printf("  DecodeToPackedDib alone:                %8.1f ms (median of %d)\n", alone * 1000, Runs);
    printf("  stream end -> first picture (preview):  %8.1f ms\n", times.first * 1000);
    printf("  stream end -> picture at its level:     %8.1f ms (of which painting it %.1f ms)\n",
           times.full * 1000, times.paint * 1000);
    printf("  first picture / full picture: %.3f (target <= 0.15)\n", times.first / times.full);
    printf("  its level / full decode alone: %.3f (target <= 1.1)\n", times.full / alone);
}

SIZE_T PrivateBytes() {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return counters.PagefileUsage;
}

// Private bytes read every millisecond while a decode runs (Wine keeps no
// peak of its own that follows large allocations).
volatile LONG DecodeUnderWay;
volatile SIZE_T PeakPrivateBytes;

DWORD WINAPI WatchPrivateBytes(void*) {
    while (DecodeUnderWay) {
        SIZE_T now = PrivateBytes();
        if (now > PeakPrivateBytes) {
            PeakPrivateBytes = now;
        }
        Sleep(1);
    }
    return 0;
}

// A page of twelve embedded 4000 x 4000 images, each `side` pixels square:
// from the last stream end until every element shows its final picture,
// and the page's peak private bytes over the process before it.
struct PageFigures {
    double allPictures;
    double peakMegabytes;
    int shown;
    double beforePrintMegabytes;
    double afterPrintMegabytes;
};

// Prints each element in turn (as a browser prints a page: the plug-in gets
// the full picture for it, then gives it back), pumps until the elements'
// own levels have come back, and gives the private bytes over `before` then.
double PrintEveryElement(InstanceRun* runs, int count, SIZE_T before) {
    HDC screen = GetDC(NULL);
    HDC printer = CreateCompatibleDC(screen);
    HBITMAP page = CreateCompatibleBitmap(screen, 200, 200);
    HGDIOBJ old = SelectObject(printer, page);
    for (int i = 0; i < count; ++i) {
        NPPrint print = {};
        print.mode = NP_EMBED;
        print.print.embedPrint.platformPrint = printer;
        print.print.embedPrint.window.width = 200;
        print.print.embedPrint.window.height = 200;
        Plugin.print(&runs[i].npp, &print);
    }
    // No decode takes two seconds at these levels.
    for (double until = Now() + 2; Now() < until;) {
        Pump();
        Sleep(10);
    }
    SelectObject(printer, old);
    DeleteObject(page);
    DeleteDC(printer);
    ReleaseDC(NULL, screen);
    return (double)(PrivateBytes() - before) / 1048576.0;
}

PageFigures RunPage(HWND frame, const std::vector<uint8_t>& file, int side, int count = 12, bool print = false) {
    const int Count = 12;
    DecodePlan plan = {};
    PlanDecode(&plan, NULL, KindOf(file), file.data(), (int32_t)file.size());
    int level = ChooseViewReduce(plan.fullWidth, plan.fullHeight, (uint32_t)side, (uint32_t)side, plan.shownReduce,
                                 plan.maxReduce);
    std::vector<HWND> windows;
    static InstanceRun runs[Count];
    WatchedCount = 0;
    SIZE_T before = PrivateBytes();
    PeakPrivateBytes = before;
    DecodeUnderWay = 1;
    HANDLE watcher = CreateThread(NULL, 0, WatchPrivateBytes, NULL, 0, NULL);
    for (int i = 0; i < count; ++i) {
        // Each later element on top and clipping the ones below: the corner
        // each is watched at is its own even when elements overlap.
        HWND window = CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, i % 4 * 160,
                                      i / 4 * 160, side, side, frame, NULL, NULL, NULL);
        SetWindowPos(window, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
        windows.push_back(window);
        int visible = side < 150 ? side : 150;
        Watch(window, visible, IsColourImagePixel, plan.previewReduce >= level + 2);
        FeedInstance(&runs[i], window, side, file, 1, 1 << 20);
    }
    for (int i = 0; i < count; ++i) {
        EndStream(&runs[i]);
    }
    double lastEnd = runs[count - 1].streamEndedAt;
    WaitForFullPictures(lastEnd);
    DecodeUnderWay = 0;
    WaitForSingleObject(watcher, INFINITE);
    CloseHandle(watcher);
    PageFigures figures = {0, (double)(PeakPrivateBytes - before) / 1048576.0, 0, 0, 0};
    for (int i = 0; i < count; ++i) {
        figures.allPictures = std::max(figures.allPictures, WatchedWindows[i].fullPaint - lastEnd);
        figures.shown += WatchedWindows[i].fullPaint != 0;
    }
    if (print) {
        figures.beforePrintMegabytes = (double)(PrivateBytes() - before) / 1048576.0;
        figures.afterPrintMegabytes = PrintEveryElement(runs, count, before);
    }
    for (int i = 0; i < count; ++i) {
        Plugin.destroy(&runs[i].npp, NULL);
        DestroyWindow(windows[i]);
    }
    WatchedCount = 0;
    Pump();
    return figures;
}

// The page at 150 x 150 against the same page whose elements all need the
// full picture (every element decoded in full, as before levels).
void PrintGalleryFigures(HWND frame, const std::vector<uint8_t>& file) {
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    double single = TimeDecodeAlone(file);
    SetWindowPos(frame, NULL, 0, 0, 640, 480, SWP_NOMOVE | SWP_NOZORDER);
    PageFigures small = RunPage(frame, file, 150, 12, true);
    PageFigures whole = RunPage(frame, file, 4000);
    printf("page of twelve 4000x4000 (%d processors), one full decode %.1f ms:\n", (int)system.dwNumberOfProcessors,
           single * 1000);
    printf("  at 150x150: %d of 12 shown, all pictures %.1f ms, peak private bytes %.1f MiB\n", small.shown,
           small.allPictures * 1000, small.peakMegabytes);
    printf("  at 150x150, each element printed (full picture) in turn: private bytes %.1f MiB before, %.1f MiB "
           "after (twelve full pictures kept would add %.0f MiB)\n",
           small.beforePrintMegabytes, small.afterPrintMegabytes, 12.0 * 3 * 4000 * 4000 / 1048576.0);
    printf("  at 4000x4000 (each needs the whole picture, as every element did before levels): %d of 12 shown, "
           "all pictures %.1f ms, peak private bytes %.1f MiB\n",
           whole.shown, whole.allPictures * 1000, whole.peakMegabytes);
    printf("page of twelve 4000x4000 at 150x150: all pictures / one full decode: %.3f (target <= 1.0)\n",
           small.allPictures / single);
}

// Eight 6600 x 6600 pictures (each about 650 MB to decode whole, a third of a
// 32-bit address space): at 150 x 150, and each needing the whole picture.
void PrintLargePageFigures(HWND frame, const std::vector<uint8_t>& file) {
    PageFigures small = RunPage(frame, file, 150, 8);
    PageFigures whole = RunPage(frame, file, 6600, 8);
    printf("page of eight 6600x6600 at 150x150: %d of 8 shown, all pictures %.1f ms, peak private bytes %.1f MiB\n",
           small.shown, small.allPictures * 1000, small.peakMegabytes);
    printf("page of eight 6600x6600 each needing the whole picture: %d of 8 shown, all pictures %.1f ms, peak private "
           "bytes %.1f MiB\n",
           whole.shown, whole.allPictures * 1000, whole.peakMegabytes);
}

// Child mode: one decode of FILE at REDUCE halvings; prints the growth of
// private bytes at the decode's peak over before it.
int MeasurePeak(const char* path, int reduce) {
    std::vector<uint8_t> file = FileBytes(path);
    SIZE_T before = PrivateBytes();
    PeakPrivateBytes = before;
    DecodeUnderWay = 1;
    HANDLE watcher = CreateThread(NULL, 0, WatchPrivateBytes, NULL, 0, NULL);
    uint8_t* dib = NULL;
    int ok = DecodeReducedToPackedDib(&dib, NULL, KindOf(file), file.data(), (int32_t)file.size(), reduce);
    DecodeUnderWay = 0;
    WaitForSingleObject(watcher, INFINITE);
    CloseHandle(watcher);
    free(dib);
    printf("%.1f\n", ok ? (double)(PeakPrivateBytes - before) / 1048576.0 : -1.0);
    return ok ? 0 : 1;
}

// The peak of one decode, run in a process of its own so that no earlier
// decode's peak hides it; -1 when it failed.
double PeakOfDecode(const std::string& path, int reduce) {
    char self[MAX_PATH];
    GetModuleFileNameA(NULL, self, sizeof self);
    char command[3 * MAX_PATH];
    snprintf(command, sizeof command, "\"\"%s\" --peak \"%s\" %d\"", self, path.c_str(), reduce);
    FILE* child = _popen(command, "r");
    double megabytes = -1;
    if (child) {
        if (fscanf(child, "%lf", &megabytes) != 1) {
            megabytes = -1;
        }
        _pclose(child);
    }
    return megabytes;
}

void PrintPeakFigures(const std::string& rgbPath, const std::vector<uint8_t>& rgb, const std::string& largePath,
                      const std::vector<uint8_t>& large, const std::string& shownSizePath) {
    DecodePlan rgbPlan = {}, largePlan = {};
    PlanDecode(&rgbPlan, NULL, KindOf(rgb), rgb.data(), (int32_t)rgb.size());
    PlanDecode(&largePlan, NULL, KindOf(large), large.data(), (int32_t)large.size());
    printf("peak private bytes of one decode (MiB over the process before it):\n");
    printf("  4000x4000 RGB, full:                     %8.1f\n", PeakOfDecode(rgbPath, 0));
    printf("  4000x4000 RGB, preview (1/%d):            %8.1f\n", 1 << rgbPlan.previewReduce,
           PeakOfDecode(rgbPath, rgbPlan.previewReduce));
    printf("  12000x12000 grey, capped (1/%d):          %8.1f\n", 1 << largePlan.shownReduce,
           PeakOfDecode(largePath, largePlan.shownReduce));
    printf("  %ux%u grey, full (the capped size shown): %8.1f\n", largePlan.shownWidth, largePlan.shownHeight,
           PeakOfDecode(shownSizePath, 0));
}

uint64_t ProcessorTime() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    return ((uint64_t)kernel.dwHighDateTime << 32 | kernel.dwLowDateTime) +
           ((uint64_t)user.dwHighDateTime << 32 | user.dwLowDateTime);
}

// Serves messages until `until`; the longest a message took, without the
// paint hook's pixel probe, is kept in *hold.
void ServeMessagesUntil(double until, double* hold) {
    MSG message;
    while (Now() < until) {
        MsgWaitForMultipleObjects(0, NULL, FALSE, 1, QS_ALLINPUT);
        while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
            double start = Now(), probing = ProbeSeconds;
            DispatchMessageA(&message);
            *hold = std::max(*hold, Now() - start - (ProbeSeconds - probing));
        }
    }
}

// The image arriving in 64 KiB blocks, one per `blockMs`, into the 400 x 400
// element: the first painted partial picture against the stream's duration,
// what the partial decodes cost against one full decode of the file (the
// full decode's processor time is this whole process's, in process; the
// partial decodes' is the worker's and, run in a decoder process, the
// decoder's), and the longest the UI thread was held by an
// NPP_Write and by a message to the window (painting included).
void PrintArrivalFigures(const std::vector<uint8_t>& file, int blockMs) {
    const int32_t Block = 65536;
    uint64_t before = ProcessorTime();
    uint8_t* dib = NULL;
    DecodeToPackedDib(&dib, file.data(), (int32_t)file.size());
    free(dib);
    double fullDecode = (double)(ProcessorTime() - before) / 1e7;
    WatchedCount = 0;
    Watch(PluginWindow, 400, IsColourImagePixel, 1);
    InstanceRun run;
    OpenInstance(&run, PluginWindow, 400, (uint32_t)file.size());
    double writeHold = 0, messageHold = 0;
    double first = Now(), last = first;
    for (int32_t offset = 0; offset < (int32_t)file.size(); offset += Block) {
        int32_t length = std::min<int32_t>(Block, (int32_t)file.size() - offset);
        double start = Now();
        Plugin.write(&run.npp, &run.stream, offset, length, (void*)(file.data() + offset));
        last = Now();
        writeHold = std::max(writeHold, last - start);
        ServeMessagesUntil(start + blockMs / 1000.0, &messageHold);
    }
    const PluginInstance* record = (const PluginInstance*)run.npp.pdata;
    while (IsDecodeBusy(record)) {
        ServeMessagesUntil(Now() + 0.01, &messageHold);
    }
    double firstPicture = WatchedWindows[0].firstPaint;
    printf("%s arriving, 64 KiB per %d ms, into 400x400:\n", DescribeFile(file).c_str(), blockMs);
    printf("  stream duration:                      %8.1f ms\n", (last - first) * 1000);
    printf("  first byte -> first partial picture:  %8.1f ms\n", firstPicture > 0 ? (firstPicture - first) * 1000 : -1);
    printf("  first picture while arriving / stream duration: %.3f (target <= 0.25)\n",
           firstPicture > 0 ? (firstPicture - first) / (last - first) : -1);
    printf("  partial decodes: %d (%d gave a picture), processor time %.1f ms = %.3f of one full decode (%.1f ms)\n",
           record->arrival.count, record->arrival.pictures, record->arrival.processorTime / 1e4,
           record->arrival.processorTime / 1e7 / fullDecode, fullDecode * 1000);
    printf("  UI thread's longest hold while arriving: NPP_Write %.3f ms (target < 5), a message %.3f ms\n",
           writeHold * 1000, messageHold * 1000);
    Plugin.destroystream(&run.npp, &run.stream, NPRES_DONE);
    WaitForFullPictures(Now());
    Plugin.destroy(&run.npp, NULL);
    Pump();
    WatchedCount = 0;
}

// 256 MiB arriving in 64 KiB writes with no pause (no length announced)
// while the element's partial decode waits behind as many other elements'
// full decodes as there are processors, delivered as a browser does (each
// write after NPP_WriteReady offered room): the longest NPP_Write, and the bytes
// the plug-in copied into its store against the bytes received (read from
// the record before the stream ends). The file is the 4000 x 4000 one and
// filler past its end, so its prefix is decodable from the first write.
void PrintLargeArrivalFigures(HWND frame, const std::vector<uint8_t>& file) {
    const int32_t Block = 65536;
    const size_t Total = 256u << 20;
    std::vector<uint8_t> bytes(file);
    bytes.resize(Total, 0x33);
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    int blockers = system.dwNumberOfProcessors > 0 ? (int)system.dwNumberOfProcessors : 1;
    std::vector<InstanceRun> runs((size_t)blockers);
    std::vector<HWND> windows;
    for (InstanceRun& run : runs) {
        HWND window = CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE, 0, 0, Side, Side, frame, NULL, NULL, NULL);
        windows.push_back(window);
        FeedInstance(&run, window, Side, file, 1, 1 << 20);
        EndStream(&run);
    }
    // The arrival starts once the other elements' decodes run in their
    // decoder processes: under Wine a process starting up sends its system
    // calls through the same server as the browser's thread, a wait that
    // Windows does not have.
    double holdWhileStarting = 0;
    for (double until = Now() + 10; Now() < until;) {
        int running = 0;
        for (InstanceRun& run : runs) {
            running += LoadAcquire(&((const PluginInstance*)run.npp.pdata)->queue.state) == PipeLevelRunning;
        }
        if (running == blockers) break;
        ServeMessagesUntil(Now() + 0.01, &holdWhileStarting);
    }
    InstanceRun large;
    OpenInstance(&large, PluginWindow, 400, 0);
    // Partial decodes begin once a stream has been open a tenth of a second.
    Sleep(150);
    const PluginInstance* record = (const PluginInstance*)large.npp.pdata;
    double longest = 0;
    int waiting = 0, writes = 0, overTarget = 0;
    std::vector<double> durations;
    // As a browser's plug-in process delivers: NPP_WriteReady first, and
    // when it offers nothing, the stream waits 100 ms and asks again; any
    // room at all takes the whole block.
    double longestReady = 0, waited = 0, messageHold = 0;
    int pauses = 0;
    for (size_t offset = 0; offset < Total; offset += Block) {
        double asked = Now();
        int32_t ready = Plugin.writeready(&large.npp, &large.stream);
        longestReady = std::max(longestReady, Now() - asked);
        if (ready <= 0) {
            ++pauses;
            ServeMessagesUntil(Now() + 0.1, &messageHold);
            waited += Now() - asked;
            offset -= Block;
            continue;
        }
        double start = Now();
        int32_t written = Plugin.write(&large.npp, &large.stream, (int32_t)offset, Block, bytes.data() + offset);
        double took = Now() - start;
        longest = std::max(longest, took);
        overTarget += took > 0.002;
        durations.push_back(took);
        if (written != Block) {
            printf("large arrival: NPP_Write refused the block at %u\n", (unsigned)offset);
            break;
        }
        waiting += LoadAcquire(&record->queue.state) == PipePrefixQueued;
        ++writes;
    }
    uint64_t copied = record->reception.store.copied;
    uint64_t received = record->reception.store.length;
    printf("large arrival: 256 MiB in 64 KiB writes, unannounced, the prefix job queued behind %d full decodes "
           "during %d of %d writes\n",
           blockers, waiting, writes);
    printf("large arrival, NPP_Write longest: %.3f ms (target <= 2)\n", longest * 1000);
    // The longest is one write's worst luck with the machine's scheduler; the
    // median and the count over the target say whether it is the rule.
    std::sort(durations.begin(), durations.end());
    printf("large arrival, NPP_Write median: %.3f ms, over 2 ms: %d of %d writes\n",
           durations.empty() ? 0.0 : durations[durations.size() / 2] * 1000, overTarget, writes);
    printf("large arrival, bytes copied / bytes received: %.3f (target <= 1.1)\n",
           received ? (double)copied / (double)received : -1.0);
    printf("large arrival, NPP_WriteReady longest: %.3f ms; it offered no room %d times (%.0f ms waited); "
           "writes that only copied: %u of %d\n",
           longestReady * 1000, pauses, waited * 1000, record->reception.store.preparedWrites, writes);
    Plugin.destroystream(&large.npp, &large.stream, NPRES_USER_BREAK);
    Plugin.destroy(&large.npp, NULL);
    for (size_t i = 0; i < runs.size(); ++i) {
        Plugin.destroy(&runs[i].npp, NULL);
        DestroyWindow(windows[i]);
    }
    Pump();
    Sleep(3000);  // the orphaned decodes end before the next figures
    Pump();
}

// A full decode of the 4000 x 4000 picture (an element of its size, stream
// end to the full picture painted) and stream end to the first picture in
// the 400 x 400 element; medians, after one run of each untimed, so that the
// decoders have started before the streams end.
struct PathTimes {
    double full;
    double first;
};

PathTimes TimePath(HWND frame, const std::vector<uint8_t>& file) {
    SetWindowPos(frame, NULL, 0, 0, 640, 480, SWP_NOMOVE | SWP_NOZORDER);
    ShowWindow(PluginWindow, SW_HIDE);
    std::vector<double> full;
    for (int i = 0; i <= Runs; ++i) {
        double seconds = RunPage(frame, file, Side, 1).allPictures;
        if (i > 0) {
            full.push_back(seconds);
        }
    }
    ShowWindow(PluginWindow, SW_SHOW);
    TimePictures(file, IsColourImagePixel);
    PathTimes times = {Median(full), TimePictures(file, IsColourImagePixel).first};
    return times;
}

// TimePath in a run of this program of its own with `dll`; 0 when it failed.
int RunPathTimes(const std::string& dll, const std::string& image, PathTimes* times) {
    char self[MAX_PATH];
    GetModuleFileNameA(NULL, self, sizeof self);
    char command[4 * MAX_PATH];
    snprintf(command, sizeof command, "\"\"%s\" \"%s\" \"%s\" path-times\"", self, dll.c_str(), image.c_str());
    FILE* child = _popen(command, "r");
    int found = 0;
    char line[256];
    while (child && fgets(line, sizeof line, child)) {
        found |= sscanf(line, "path times: full %lf first %lf", &times->full, &times->first) == 2;
    }
    if (child) {
        _pclose(child);
    }
    return found;
}

// A copy of the DLL in a folder of its own, where it finds no decoder and
// decodes in the browser's process; empty when it cannot be made.
std::string CopyWithoutDecoder(const std::string& dll) {
    char full[MAX_PATH], folder[MAX_PATH];
    if (!GetFullPathNameA(dll.c_str(), sizeof full, full, NULL) || !GetTempPathA(sizeof folder, folder)) {
        return std::string();
    }
    std::string place = std::string(folder) + "npkavrel-in-process";
    CreateDirectoryA(place.c_str(), NULL);
    std::string copy = place + "\\npkavrel.dll";
    return CopyFileA(full, copy.c_str(), FALSE) ? copy : std::string();
}

void PrintDecoderPathFigures(const std::string& dll, const std::string& image) {
    PathTimes decoder = {}, inProcess = {};
    std::string copy = CopyWithoutDecoder(dll);
    if (copy.empty() || !RunPathTimes(dll, image, &decoder) || !RunPathTimes(copy, image, &inProcess)) {
        printf("decoder process / in-process: no figures (a run failed)\n");
        return;
    }
    printf("full decode 4000x4000 through the plug-in: decoder process %.1f ms, in-process %.1f ms\n",
           decoder.full * 1000, inProcess.full * 1000);
    printf("stream end to first picture: decoder process %.1f ms, in-process %.1f ms\n", decoder.first * 1000,
           inProcess.first * 1000);
    printf("decoder process / in-process, full decode 4000x4000: %.3f (target <= 1.10)\n",
           decoder.full / inProcess.full);
    printf("decoder process / in-process, stream end to first picture: %.3f (target <= 1.15)\n",
           decoder.first / inProcess.first);
}

// This process's decoder children alive now, opened for waiting.
std::vector<HANDLE> OpenDecoderChildren() {
    std::vector<HANDLE> decoders;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = snapshot != INVALID_HANDLE_VALUE && Process32First(snapshot, &entry); more;
         more = Process32Next(snapshot, &entry)) {
        HANDLE process = entry.th32ParentProcessID == GetCurrentProcessId() &&
                                 _stricmp(entry.szExeFile, "npkavrel-decoder.exe") == 0
                             ? OpenProcess(SYNCHRONIZE, FALSE, entry.th32ProcessID)
                             : NULL;
        if (process) decoders.push_back(process);
    }
    if (snapshot != INVALID_HANDLE_VALUE) CloseHandle(snapshot);
    return decoders;
}

// NPP_Destroy once the full picture's decode has begun (after the preview,
// in an element of the picture's size): until one of the decoders ends; the
// median, -1 when none ended within ten seconds.
double TimeDestroyToDecoderEnd(HWND frame, const std::vector<uint8_t>& file) {
    HWND window = CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE, 0, 0, Side, Side, frame, NULL, NULL, NULL);
    std::vector<double> ends;
    for (int i = 0; i < Runs; ++i) {
        WatchedCount = 0;
        Watch(window, 150, IsColourImagePixel, 2);
        InstanceRun run;
        FeedInstance(&run, window, Side, file, 1, 1 << 20);
        EndStream(&run);
        while (WatchedWindows[0].finishedMessages < 1 && Now() - run.streamEndedAt < 30) {
            MsgWaitForMultipleObjects(0, NULL, FALSE, 1, QS_ALLINPUT);
            Pump();
        }
        for (double until = Now() + 0.1; Now() < until;) {
            Pump();
            Sleep(1);
        }
        std::vector<HANDLE> decoders = OpenDecoderChildren();
        double start = Now();
        Plugin.destroy(&run.npp, NULL);
        DWORD waited = decoders.empty() ? WAIT_FAILED
                                        : WaitForMultipleObjects((DWORD)decoders.size(), decoders.data(), FALSE, 10000);
        ends.push_back(waited < WAIT_OBJECT_0 + decoders.size() ? Now() - start : -1);
        for (HANDLE decoder : decoders) CloseHandle(decoder);
        Pump();
    }
    WatchedCount = 0;
    DestroyWindow(window);
    return Median(ends);
}

void PrintDecoderFigures(HWND frame, const std::string& dll, const std::string& image,
                         const std::vector<uint8_t>& file) {
    PrintDecoderPathFigures(dll, image);
    printf("NPP_Destroy during a full decode -> decoder ended: %.1f ms (target <= 100)\n",
           TimeDestroyToDecoderEnd(frame, file) * 1000);
}

double WriteThroughput(const std::vector<uint8_t>& file, int announce) {
    std::vector<double> rates;
    for (int i = 0; i < Runs; ++i) {
        NPP_t npp = {};
        char mime[] = "image/x-j2c";
        Plugin.newp(mime, &npp, NP_EMBED, 0, NULL, NULL, NULL);
        NPStream stream = {};
        stream.url = "bench.j2k";
        stream.end = announce ? (uint32_t)file.size() : 0;
        uint16_t type = 0;
        Plugin.newstream(&npp, mime, &stream, 0, &type);
        double start = Now();
        for (int32_t offset = 0; offset < (int32_t)file.size(); offset += 16384) {
            int32_t length = std::min<int32_t>(16384, (int32_t)file.size() - offset);
            Plugin.write(&npp, &stream, offset, length, (void*)(file.data() + offset));
        }
        rates.push_back((double)file.size() / (Now() - start) / 1048576.0);
        Plugin.destroystream(&npp, &stream, NPRES_USER_BREAK);
        Plugin.destroy(&npp, NULL);
    }
    return Median(rates);
}

// The picture printed on A4 at 300 dpi, fitted as Print Picture lays it
// out (Debian's PDF printer prints to the sheet's edges), through the
// in-process NPP_Print, which shares Print Picture's level rule and
// drawing: how long the level it needs takes (between the plug-in's status
// line going up and down) and how many more pixels that level holds than
// are printed.
void PrintPrintFigures(const std::vector<uint8_t>& file) {
    DecodePlan plan = {};
    PlanDecode(&plan, NULL, KindOf(file), file.data(), (int32_t)file.size());
    const PrinterPage a4 = {2479, 3508, 300, 300};
    PrintedPicture picture = {plan.fullWidth, plan.fullHeight, plan.shownReduce, plan.maxReduce, 0, 0};
    PrintLayout layout;
    PlanPrintLayout(&layout, &a4, &picture);
    InstanceRun run;
    StreamInstance(&run, file, 1, 65536);
    const PluginInstance* record = (const PluginInstance*)run.npp.pdata;
    for (double until = Now() + 60; Now() < until && IsDecodeBusy(record);) {
        MsgWaitForMultipleObjects(0, NULL, FALSE, 1, QS_ALLINPUT);
        Pump();
    }
    HDC screen = GetDC(NULL);
    HDC printer = CreateCompatibleDC(screen);
    HBITMAP page = CreateCompatibleBitmap(screen, layout.width, layout.height);
    HGDIOBJ old = SelectObject(printer, page);
    NPPrint print = {};
    print.mode = NP_EMBED;
    print.print.embedPrint.platformPrint = printer;
    print.print.embedPrint.window.width = (uint32_t)layout.width;
    print.print.embedPrint.window.height = (uint32_t)layout.height;
    StatusShown = StatusCleared = 0;
    Plugin.print(&run.npp, &print);
    // The level printed stays in place until the view's comes back.
    const BITMAPINFOHEADER* printed = LoadAcquire(&record->picture.dibHeader);
    double ratio = (double)printed->biWidth * abs(printed->biHeight) / ((double)layout.width * layout.height);
    printf("print %ux%u on A4 at 300 dpi, decode: %.1f ms, pixels decoded / pixels printed: %.2f (target <= 4)\n",
           plan.fullWidth, plan.fullHeight, (StatusCleared - StatusShown) * 1000, ratio);
    SelectObject(printer, old);
    DeleteObject(page);
    DeleteDC(printer);
    ReleaseDC(NULL, screen);
    Plugin.destroy(&run.npp, NULL);
    Pump();
}

}  // namespace

// Motion JPEG 2000 at 25 frames a second, ten seconds of it: 250 frames
// taken in turn from `distinct` codestreams, each a grainy grey whose level
// tells its frame (consecutive frames differ). Kept between runs.
const uint32_t VideoFrames = 250;
const uint32_t VideoFrameMs = 40;
int VideoLevel(uint32_t frame) { return 24 + (int)(frame % 50) * 4; }

std::vector<uint8_t> MakeVideo(const std::string& path, uint32_t width, uint32_t height, uint32_t distinct) {
    std::vector<uint8_t> bytes = FileBytes(path);
    if (!bytes.empty()) {
        return bytes;
    }
    std::vector<std::vector<uint8_t>> codestreams;
    for (uint32_t i = 0; i < distinct; ++i) {
        FixtureImage image;
        image.width = width;
        image.height = height;
        image.components.assign(3, FixtureComponent{8, 0, 1, 1});
        image.samples.assign(3, std::vector<int32_t>((size_t)width * height));
        for (uint32_t p = 0; p < width * height; ++p) {
            for (int c = 0; c < 3; ++c) {
                image.samples[c][p] = VideoLevel(i) + (int32_t)((p * 2654435761u >> (8 + c)) & 3);
            }
        }
        image.lossy = 1;
        image.rate = 20.0;
        image.tiled = 0;
        codestreams.push_back(EncodeFixture(image, NULL));
    }
    std::vector<std::vector<uint8_t>> frames;
    for (uint32_t i = 0; i < VideoFrames; ++i) {
        frames.push_back(codestreams[i % distinct]);
    }
    bytes = MakeMj2(frames, std::vector<uint32_t>(VideoFrames, VideoFrameMs), 1000, width, height);
    WriteFileBytes(path, bytes);
    return bytes;
}

// Ten seconds of playback in an 800 x 600 full page: the frames painted
// (read back from a pixel inside the picture, each a level of its own) against the
// frames whose time came.
double PlaybackRatio(HWND frame, const std::vector<uint8_t>& video) {
    HWND window = CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE, 0, 0, 800, 600, frame, NULL, NULL, NULL);
    SetWindowPos(frame, NULL, 0, 0, 820, 620, SWP_NOMOVE | SWP_NOZORDER);
    NPP_t npp = {};
    NPWindow npWindow = {};
    NPStream stream = {};
    char mime[] = "video/mj2";
    Plugin.newp(mime, &npp, NP_FULL, 0, NULL, NULL, NULL);
    npWindow.window = window;
    npWindow.width = 800;
    npWindow.height = 600;
    Plugin.setwindow(&npp, &npWindow);
    stream.url = "bench.mj2";
    stream.end = (uint32_t)video.size();
    uint16_t type = 0;
    Plugin.newstream(&npp, mime, &stream, 0, &type);
    for (int32_t offset = 0; offset < (int32_t)video.size(); offset += 65536) {
        int32_t length = std::min<int32_t>(65536, (int32_t)video.size() - offset);
        Plugin.writeready(&npp, &stream);
        Plugin.write(&npp, &stream, offset, length, (void*)(video.data() + offset));
    }
    Plugin.destroystream(&npp, &stream, NPRES_DONE);
    int lastFrame = -1;
    uint32_t shown = 0;
    double start = 0;
    for (double begun = Now(); Now() - begun < 60;) {
        MsgWaitForMultipleObjects(0, NULL, FALSE, 2, QS_ALLINPUT);
        Pump();
        HDC dc = GetDC(window);
        COLORREF pixel = GetPixel(dc, 100, 100);
        ReleaseDC(window, dc);
        // The grain adds 1.5 on average.
        int level = pixel == CLR_INVALID ? -1 : (int)GetRValue(pixel);
        int frameShown = level >= 22 ? (int)((level - 25.5) / 4.0 + 0.5) : -1;
        if (frameShown < 0 || frameShown > 49 || frameShown == lastFrame) {
            continue;
        }
        start = lastFrame < 0 ? Now() : start;
        lastFrame = frameShown;
        ++shown;
        if (Now() - start >= VideoFrames * VideoFrameMs / 1000.0) {
            break;
        }
    }
    double due = start > 0 ? (Now() - start) * 1000.0 / VideoFrameMs : 0;
    Plugin.destroy(&npp, NULL);
    Pump();
    DestroyWindow(window);
    return due > 0 ? shown / (due < VideoFrames ? due : VideoFrames) : 0;
}

void PrintPlaybackFigures(HWND frame) {
    std::vector<uint8_t> small = MakeVideo("bench_display_352x288.mj2", 352, 288, 50);
    printf("MJ2 352x288, 25 frames/s: frames shown / frames due: %.3f (target >= 0.95)\n", PlaybackRatio(frame, small));
    std::vector<uint8_t> large = MakeVideo("bench_display_1920x1080.mj2", 1920, 1080, 10);
    printf("MJ2 1920x1080, 25 frames/s, at the 800x600 page's level: frames shown / frames due: %.3f\n",
           PlaybackRatio(frame, large));
}

int main(int argc, char** argv) {
    QueryPerformanceFrequency(&Frequency);
    if (argc == 4 && strcmp(argv[1], "--peak") == 0) {
        return MeasurePeak(argv[2], atoi(argv[3]));
    }
    std::string dll = argc > 1 ? argv[1] : "npkavrel.dll";
    std::string imagePath = argc > 2 ? argv[2] : "bench_display_4000.j2k";
    std::vector<uint8_t> file = MakeBenchImage(imagePath);
    if (file.empty()) {
        fprintf(stderr, "bench_display: cannot make the benchmark image\n");
        return 1;
    }
    int writesOnly = argc > 3 && strcmp(argv[3], "writes") == 0;
    int pageOnly = argc > 3 && strcmp(argv[3], "page") == 0;
    int arrivingOnly = argc > 3 && strcmp(argv[3], "arriving") == 0;
    int printOnly = argc > 3 && strcmp(argv[3], "print") == 0;
    int largeArrivalOnly = argc > 3 && strcmp(argv[3], "large-arrival") == 0;
    int playbackOnly = argc > 3 && strcmp(argv[3], "playback") == 0;
    int decoderOnly = argc > 3 && strcmp(argv[3], "decoder") == 0;
    int pathTimesOnly = argc > 3 && strcmp(argv[3], "path-times") == 0;
    int oneFigure = arrivingOnly || printOnly || largeArrivalOnly || playbackOnly || decoderOnly || pathTimesOnly;
    const std::string largePath = "bench_display_12000.j2k";
    const std::string shownSizePath = "bench_display_6000.j2k";
    std::vector<uint8_t> large, shownSize;
    if (!writesOnly && !pageOnly && !oneFigure) {
        large = MakeGreyImage(largePath, 12000, FillLargeGrey<1>);
        shownSize = MakeGreyImage(shownSizePath, 6000, FillLargeGrey<2>);
        if (large.empty() || shownSize.empty()) {
            fprintf(stderr, "bench_display: cannot make the large grey images\n");
            return 1;
        }
    }
    HMODULE module = LoadLibraryA(dll.c_str());
    if (!module) {
        fprintf(stderr, "bench_display: cannot load %s\n", dll.c_str());
        return 1;
    }
    NP_GetEntryPointsFunc getEntryPoints = (NP_GetEntryPointsFunc)(void*)GetProcAddress(module, "NP_GetEntryPoints");
    NP_InitializeFunc initialize = (NP_InitializeFunc)(void*)GetProcAddress(module, "NP_Initialize");
    NP_ShutdownFunc shutdown = (NP_ShutdownFunc)(void*)GetProcAddress(module, "NP_Shutdown");
    Plugin.size = sizeof Plugin;
    Browser.size = sizeof Browser;
    Browser.version = 0x000B;
    Browser.uagent = UserAgent;
    Browser.geturl = GetUrl;
    Browser.status = RecordStatus;
    if (!getEntryPoints || !initialize || !shutdown || getEntryPoints(&Plugin) || initialize(&Browser)) {
        fprintf(stderr, "bench_display: %s does not initialise\n", dll.c_str());
        return 1;
    }
    DecodeProgress = RegisterWindowMessageA("npkavrel decode progress");
    HWND frame = CreateWindowExA(0, "STATIC", "bench", WS_POPUP | WS_VISIBLE, 0, 0, 420, 420, NULL, NULL, NULL, NULL);
    PluginWindow = CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE, 0, 0, 400, 400, frame, NULL, NULL, NULL);
    PaintHook = SetWindowsHookExA(WH_CALLWNDPROCRET, AfterWindowCall, NULL, GetCurrentThreadId());
    MessageHook = SetWindowsHookExA(WH_GETMESSAGE, BeforeMessage, NULL, GetCurrentThreadId());
    printf("file: %s\n", DescribeFile(file).c_str());
    if (oneFigure) {
        if (arrivingOnly) {
            PrintArrivalFigures(file, 100);
        } else if (printOnly) {
            PrintPrintFigures(file);
        } else if (playbackOnly) {
            PrintPlaybackFigures(frame);
        } else if (largeArrivalOnly) {
            PrintLargeArrivalFigures(frame, file);
        } else if (decoderOnly) {
            PrintDecoderFigures(frame, dll, imagePath, file);
        } else {
            PathTimes times = TimePath(frame, file);
            printf("path times: full %.6f first %.6f\n", times.full, times.first);
        }
        shutdown();
        return 0;
    }

    std::vector<double> destroyStream, destroyWhileDecoding;
    if (pageOnly) {
        PrintGalleryFigures(frame, file);
        // The encoder needs more than a 32-bit process has: there the file
        // comes from the 64-bit run (tools/bench-display-both.sh copies it).
        std::vector<uint8_t> large = FileBytes("bench_display_6600.j2k");
        if (large.empty() && sizeof(void*) == 8) {
            large = MakeBenchImage("bench_display_6600.j2k", 6600);
        }
        if (!large.empty()) {
            PrintLargePageFigures(frame, large);
        } else {
            printf("page of eight 6600x6600: no bench_display_6600.j2k here (make it with the 64-bit run)\n");
        }
        return 0;
    }
    if (!writesOnly) {
        PrintPictureFigures("4000x4000 RGB", file, IsColourImagePixel);
        PrintPictureFigures("12000x12000 grey (past the cap)", large, IsGreyImagePixel);
        ShowWindow(PluginWindow, SW_HIDE);
        PrintGalleryFigures(frame, file);
        ShowWindow(PluginWindow, SW_SHOW);
        PrintPeakFigures(imagePath, file, largePath, large, shownSizePath);
        PrintArrivalFigures(file, 100);
        PrintPrintFigures(file);
        PrintLargeArrivalFigures(frame, file);
        PrintPlaybackFigures(frame);
        PrintDecoderFigures(frame, dll, imagePath, file);
    }
    for (int i = 0; i < Runs && !writesOnly; ++i) {
        InstanceRun run;
        StreamInstance(&run, file, 1, 65536);
        destroyStream.push_back(run.destroyStreamSeconds);
        double start = Now();
        Plugin.destroy(&run.npp, NULL);  // the decode is still running
        destroyWhileDecoding.push_back(Now() - start);
        Pump();
        Sleep(3000);  // let the orphaned decode end before the next run
        Pump();
    }
    for (int i = 0; i < Runs && writesOnly; ++i) {
        destroyStream.push_back(0);
        destroyWhileDecoding.push_back(0);
    }
    printf("NPP_DestroyStream holds UI thread:    %8.3f ms (max %.3f; target < 5)\n", Median(destroyStream) * 1000,
           *std::max_element(destroyStream.begin(), destroyStream.end()) * 1000);
    printf("NPP_Destroy during decode holds UI:   %8.3f ms (max %.3f; target < 5)\n",
           Median(destroyWhileDecoding) * 1000,
           *std::max_element(destroyWhileDecoding.begin(), destroyWhileDecoding.end()) * 1000);
    printf("NPP_Write 16 KiB blocks, announced:   %8.1f MiB/s\n", WriteThroughput(file, 1));
    printf("NPP_Write 16 KiB blocks, unannounced: %8.1f MiB/s\n", WriteThroughput(file, 0));
    std::vector<uint8_t> bulk(64u << 20, 0x33);
    printf("NPP_Write 64 MiB, announced:          %8.1f MiB/s\n", WriteThroughput(bulk, 1));
    printf("NPP_Write 64 MiB, unannounced:        %8.1f MiB/s\n", WriteThroughput(bulk, 0));
    UnhookWindowsHookEx(MessageHook);
    UnhookWindowsHookEx(PaintHook);
    DestroyWindow(frame);
    shutdown();
    return 0;
}

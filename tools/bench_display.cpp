// Benchmark of the display path under Wine: time from NPP_DestroyStream to the
// first paint of a 4000 x 4000 RGB image against DecodeToPackedDib alone, how
// long NPP_DestroyStream and NPP_Destroy hold the UI thread, and NPP_Write
// throughput with and without an announced length. Prints figures only.
// Usage: bench_display [npkavrel.dll] [image.j2k] [writes]   ("writes": only
// the NPP_Write figures; the others then read as placeholders)
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "decode/jpeg2000.h"
#include "host/npapi.h"
#include "tests/decode/fixture_encoder.h"

namespace {

const int Side = 4000;
const int Runs = 3;

NPPluginFuncs Plugin;
NPNetscapeFuncs Browser;
HWND PluginWindow;
LARGE_INTEGER Frequency;
volatile LONG ImagePainted;
HHOOK PaintHook;

double Now() {
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return (double)counter.QuadPart / (double)Frequency.QuadPart;
}

const char* UserAgent(NPP) { return "bench_display"; }
NPError GetUrl(NPP, const char*, const char*) { return NPERR_NO_ERROR; }

// Near the bottom-right corner the image is strongly coloured (blue near 0,
// red and green high), unlike the black, white and gray of the status box and
// background: a WM_PAINT of the plug-in window that leaves such a pixel drew
// the image.
LRESULT CALLBACK AfterWindowCall(int code, WPARAM wParam, LPARAM lParam) {
    const CWPRETSTRUCT* call = (const CWPRETSTRUCT*)lParam;
    if (code == HC_ACTION && call->message == WM_PAINT && call->hwnd == PluginWindow) {
        HDC dc = GetDC(PluginWindow);
        COLORREF pixel = GetPixel(dc, 395, 395);
        ReleaseDC(PluginWindow, dc);
        if (pixel != CLR_INVALID && GetRValue(pixel) > GetBValue(pixel) + 60) {
            ImagePainted = 1;
        }
    }
    return CallNextHookEx(PaintHook, code, wParam, lParam);
}

std::vector<uint8_t> MakeBenchImage(const std::string& path) {
    std::vector<uint8_t> bytes;
    FILE* file = fopen(path.c_str(), "rb");
    if (file) {
        fseek(file, 0, SEEK_END);
        bytes.resize((size_t)ftell(file));
        fseek(file, 0, SEEK_SET);
        size_t got = fread(bytes.data(), 1, bytes.size(), file);
        fclose(file);
        if (got == bytes.size() && !bytes.empty()) {
            return bytes;
        }
    }
    printf("encoding a %dx%d RGB image into %s (once)...\n", Side, Side, path.c_str());
    FixtureImage image;
    image.width = Side;
    image.height = Side;
    image.components.assign(3, FixtureComponent{8, 0, 1, 1});
    image.samples.assign(3, std::vector<int32_t>((size_t)Side * Side));
    for (int y = 0; y < Side; ++y) {
        for (int x = 0; x < Side; ++x) {
            uint32_t h = (uint32_t)x * 2654435761u ^ (uint32_t)y * 40503u;
            size_t i = (size_t)y * Side + x;
            image.samples[0][i] = (x / 4 + (int)(h & 15)) & 255;
            image.samples[1][i] = (y / 4 + (int)(h >> 8 & 15)) & 255;
            image.samples[2][i] = ((x ^ y) / 8) & 255;
        }
    }
    image.lossy = 1;
    image.rate = 10.0;
    image.tiled = 0;
    bytes = EncodeFixture(image, "bench");
    file = fopen(path.c_str(), "wb");
    if (file) {
        fwrite(bytes.data(), 1, bytes.size(), file);
        fclose(file);
    }
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
    double destroyStreamSeconds;
    double streamEndedAt;
};

void StreamInstance(InstanceRun* run, const std::vector<uint8_t>& file, int announce, int32_t block) {
    memset(run, 0, sizeof *run);
    char mime[] = "image/x-j2c";
    Plugin.newp(mime, &run->npp, NP_EMBED, 0, NULL, NULL, NULL);
    NPWindow window = {};
    window.window = PluginWindow;
    window.width = 400;
    window.height = 400;
    Plugin.setwindow(&run->npp, &window);
    Pump();
    run->stream.url = "bench.j2k";
    run->stream.end = announce ? (uint32_t)file.size() : 0;
    uint16_t type = 0;
    Plugin.newstream(&run->npp, mime, &run->stream, 0, &type);
    for (int32_t offset = 0; offset < (int32_t)file.size(); offset += block) {
        int32_t length = std::min<int32_t>(block, (int32_t)file.size() - offset);
        Plugin.writeready(&run->npp, &run->stream);
        Plugin.write(&run->npp, &run->stream, offset, length, (void*)(file.data() + offset));
    }
    ImagePainted = 0;
    double start = Now();
    Plugin.destroystream(&run->npp, &run->stream, NPRES_DONE);
    run->streamEndedAt = Now();
    run->destroyStreamSeconds = run->streamEndedAt - start;
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

}  // namespace

int main(int argc, char** argv) {
    QueryPerformanceFrequency(&Frequency);
    std::string dll = argc > 1 ? argv[1] : "npkavrel.dll";
    std::string imagePath = argc > 2 ? argv[2] : "bench_display_4000.j2k";
    std::vector<uint8_t> file = MakeBenchImage(imagePath);
    if (file.empty()) {
        fprintf(stderr, "bench_display: cannot make the benchmark image\n");
        return 1;
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
    if (!getEntryPoints || !initialize || !shutdown || getEntryPoints(&Plugin) || initialize(&Browser)) {
        fprintf(stderr, "bench_display: %s does not initialise\n", dll.c_str());
        return 1;
    }
    HWND frame = CreateWindowExA(0, "STATIC", "bench", WS_POPUP | WS_VISIBLE, 0, 0, 420, 420, NULL, NULL, NULL, NULL);
    PluginWindow = CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE, 0, 0, 400, 400, frame, NULL, NULL, NULL);
    PaintHook = SetWindowsHookExA(WH_CALLWNDPROCRET, AfterWindowCall, NULL, GetCurrentThreadId());
    printf("file: %dx%d RGB, %u bytes\n", Side, Side, (unsigned)file.size());

    int writesOnly = argc > 3 && strcmp(argv[3], "writes") == 0;
    std::vector<double> alone;
    for (int i = 0; i < Runs && !writesOnly; ++i) {
        uint8_t* dib = NULL;
        double start = Now();
        int ok = DecodeToPackedDib(&dib, file.data(), (int32_t)file.size());
        alone.push_back(Now() - start);
        free(dib);
        if (!ok) {
            fprintf(stderr, "bench_display: the benchmark image does not decode\n");
            return 1;
        }
    }

    std::vector<double> toPaint, destroyStream, destroyWhileDecoding;
    for (int i = 0; i < Runs && !writesOnly; ++i) {
        InstanceRun run;
        StreamInstance(&run, file, 1, 65536);
        destroyStream.push_back(run.destroyStreamSeconds);
        while (!ImagePainted && Now() - run.streamEndedAt < 60) {
            MsgWaitForMultipleObjects(0, NULL, FALSE, 1, QS_ALLINPUT);
            Pump();
        }
        toPaint.push_back(Now() - run.streamEndedAt);
        Plugin.destroy(&run.npp, NULL);
        Pump();

        StreamInstance(&run, file, 1, 65536);
        double start = Now();
        Plugin.destroy(&run.npp, NULL);  // the decode is still running
        destroyWhileDecoding.push_back(Now() - start);
        Pump();
        Sleep(3000);  // let the orphaned decode end before the next run
        Pump();
    }
    for (int i = 0; i < Runs && writesOnly; ++i) {
        alone.push_back(1);
        toPaint.push_back(1);
        destroyStream.push_back(0);
        destroyWhileDecoding.push_back(0);
    }
    double decodeAlone = Median(alone);
    double plugin = Median(toPaint);
    printf("DecodeToPackedDib alone:              %8.1f ms (median of %d)\n", decodeAlone * 1000, Runs);
    printf("NPP_DestroyStream -> first image paint: %8.1f ms (median of %d)\n", plugin * 1000, Runs);
    printf("ratio plug-in / decode alone:         %8.3f (target <= 1.15)\n", plugin / decodeAlone);
    printf("NPP_DestroyStream holds UI thread:    %8.3f ms (max %.3f; target < 5)\n", Median(destroyStream) * 1000,
           *std::max_element(destroyStream.begin(), destroyStream.end()) * 1000);
    printf("NPP_Destroy during decode holds UI:   %8.3f ms (max %.3f; target < 5)\n",
           Median(destroyWhileDecoding) * 1000,
           *std::max_element(destroyWhileDecoding.begin(), destroyWhileDecoding.end()) * 1000);
    printf("NPP_Write 16 KiB blocks, announced:   %8.1f MiB/s\n", WriteThroughput(file, 1));
    printf("NPP_Write 16 KiB blocks, unannounced: %8.1f MiB/s\n", WriteThroughput(file, 0));
    std::vector<uint8_t> large(64u << 20, 0x33);
    printf("NPP_Write 64 MiB, announced:          %8.1f MiB/s\n", WriteThroughput(large, 1));
    printf("NPP_Write 64 MiB, unannounced:        %8.1f MiB/s\n", WriteThroughput(large, 0));
    UnhookWindowsHookEx(PaintHook);
    DestroyWindow(frame);
    shutdown();
    return 0;
}

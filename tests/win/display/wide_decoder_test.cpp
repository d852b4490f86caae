// The 32-bit plug-in on 64-bit Windows, run by CTest in the x86-64 build's
// Wine prefix (wide_decoder.sh): it starts the 64-bit decoder of the build
// beside its own (win -> win64), About and the system say so, and a full
// picture that the 32-bit browser has no room to decode is saved through
// that decoder exactly as j2k2bmp writes it, and copied as the same bitmap
// (both read from the decoder's section a view at a time). The same DLL
// beside its own 32-bit decoder, or alone, in the same room, cannot have it.
// A picture past the 32-bit sample cap is saved whole too, with no range
// free in the browser's process as large as its bitmap.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>
#include <tlhelp32.h>

#include <string>
#include <vector>

#include "address_space.h"
#include "browser_suite.h"
#include "decode/jpeg2000.h"
#include "fixture_path.h"
#include "test_files.h"
#include "ui_driver.h"

namespace {

const char Picture[] = "single2000.j2k";  // 2000 x 2000 RGB in one tile
const char PastTheCap[] = "overcap.j2k";  // 12000 x 12000 grey: 1.07 x 2^27 samples
// Free beside the bitmap's range while the full picture is prepared, in
// fragments: thread stacks and the heap's growth, never the codec's 48 MB
// of samples. Wine's ullAvailVirtual does not count reservations, so the
// browser's admission does not see them (on Windows it would refuse the
// 32-bit decoder the full picture); a 32-bit decoder is filled as well, and
// the codec's own allocations fail there.
const uint64_t FragmentBytes = 4 << 20;
// The plug-in's views of a bitmap left in the decoder's section.
const uint64_t ViewBytes = 4 << 20;

bool RunsUnderWow64() {
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

std::string BuildPath(const std::string& name) {
    char build[MAX_PATH];
    GetCurrentDirectoryA(sizeof build, build);
    return std::string(build) + "\\" + name;
}

TEST(WideDecoder, TheSystemAndAboutShowThe64BitDecoder) {
    ASSERT_TRUE(RunsUnderWow64()) << "runs in the 64-bit prefix only (wide_decoder.sh)";
    BrowserRun run = RunTestBrowser("--dump-dialogs --send \"apps a esc\" " + FixturePath(Picture), BuildPath(""),
                                    "", 120000);
    EXPECT_EQ(0u, run.exitCode) << run.output;
    EXPECT_NE(std::string::npos, run.output.find("Decoder:\tseparate 64-bit process")) << run.output;
    EXPECT_NE(std::string::npos, run.output.find("plug-in child: npkavrel-decoder.exe bits=64 in-job=yes"))
        << run.output;
    EXPECT_EQ(std::string::npos, run.output.find("bits=32")) << run.output;
}

// The full picture's bitmap (its rows), as the room the test leaves is measured.
uint64_t BitmapBytes(const std::vector<uint8_t>& file) {
    DecodePlan plan = {};
    int failure = 0;
    int kind = ClassifyFileKind(file.data(), (uint32_t)file.size());
    return PlanDecode(&plan, &failure, kind, file.data(), (int32_t)file.size()) ? PlannedBitmapBytes(&plan, 0) : 0;
}

// This process and each 32-bit decoder it started: the processes whose
// address space the test fills (a 64-bit one cannot be filled).
std::vector<HANDLE> OpenThirtyTwoBitProcesses() {
    std::vector<HANDLE> processes = {GetCurrentProcess()};
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
        if (entry.th32ParentProcessID != GetCurrentProcessId() || _stricmp(entry.szExeFile, "npkavrel-decoder.exe")) {
            continue;
        }
        HANDLE child = OpenProcess(PROCESS_VM_OPERATION | PROCESS_QUERY_INFORMATION, FALSE, entry.th32ProcessID);
        BOOL wow64 = FALSE;
        if (child && IsWow64Process(child, &wow64) && wow64) {
            processes.push_back(child);
        } else if (child) {
            CloseHandle(child);
        }
    }
    CloseHandle(snapshot);
    return processes;
}

// The largest range of this process's address space left free, as the
// filling counts it: the largest block that can be reserved (to 64 KiB).
uint64_t LargestFreeRange() {
    uint64_t low = 0, high = 1ull << 31;
    while (high - low > 65536) {
        uint64_t middle = low + (high - low) / 65536 / 2 * 65536;
        void* block = VirtualAlloc(nullptr, (SIZE_T)middle, MEM_RESERVE, PAGE_NOACCESS);
        if (block) VirtualFree(block, 0, MEM_RELEASE);
        (block ? low : high) = middle;
    }
    return low;
}

// Save as bitmap of the full page, every 32-bit process taking part filled
// but for fragments and one range of `room` bytes while the Save As dialog
// is open; the plug-in's messages, until the file is there or a message
// came. *largestFreeOut: the browser's largest free range meanwhile.
std::vector<std::string> SaveWithRoomFor(HWND image, uint64_t room, const std::string& path,
                                         uint64_t* largestFreeOut) {
    std::vector<std::string> messages;
    std::vector<HANDLE> processes = OpenThirtyTwoBitProcesses();
    std::vector<std::vector<void*>> blocks;
    SaveDialogView dialog;
    UiStep reserve = [&] {
        if (!FindThreadWindow("#32770", SaveDialogCaption())) return false;
        for (HANDLE process : processes) blocks.push_back(ReserveAddressSpace(FragmentBytes, room, process));
        *largestFreeOut = LargestFreeRange();
        return true;
    };
    UiStep answer = AnswerPluginMessage(&messages);
    UiStep ended = [&] { return answer() || FileExists(path); };
    RightClickAndRun(image, {Pick(image, Down(2)), reserve, AnswerSaveDialog(&dialog, 2, path), ended}, 120000);
    for (size_t i = 0; i < processes.size(); ++i) {
        if (i < blocks.size()) ReleaseAddressSpace(blocks[i], processes[i]);
        if (i > 0) CloseHandle(processes[i]);
    }
    return messages;
}

struct SaveRow {
    const char* picture;
    const char* folder;  // of build/win holding the DLL and the decoder it takes
    bool viewsOnly;      // the browser keeps room for a view, not for the bitmap
    std::vector<std::string> messages;
    bool saved;
    bool copied;  // then copied too: the clipboard's block filled through the same views
};

// The first `count` bytes of the clipboard's CF_DIB block (none: empty).
std::vector<uint8_t> ClipboardDib(size_t count) {
    std::vector<uint8_t> bytes;
    if (!OpenClipboardPatiently()) return bytes;
    HANDLE block = GetClipboardData(CF_DIB);
    const uint8_t* data = block && GlobalSize(block) >= count ? (const uint8_t*)GlobalLock(block) : nullptr;
    if (data) {
        bytes.assign(data, data + count);
        GlobalUnlock(block);
    }
    CloseClipboard();
    return bytes;
}

// The full-resolution bitmap file of a picture, past the sample cap too.
std::vector<uint8_t> FullBitmapFile(const std::vector<uint8_t>& file) {
    SetDecodeSampleLimit(1u << 30);
    uint8_t* dib = nullptr;
    std::vector<uint8_t> bitmap;
    if (DecodeToPackedDib(&dib, file.data(), (int32_t)file.size())) bitmap = BitmapFileOf(dib);
    free(dib);
    SetDecodeSampleLimit(0);
    return bitmap;
}

TEST(WideDecoder, FullPictureWithRoomForItsBitmapOnlyIsSavedThroughThe64BitDecoder) {
    ASSERT_TRUE(RunsUnderWow64()) << "runs in the 64-bit prefix only (wide_decoder.sh)";
    const std::string OutOfMemory = "The full picture could not be prepared: out of memory.";
    // Copies in folders of other names: with the 32-bit decoder beside
    // it, and alone (decoding in the browser's process).
    const SaveRow rows[] = {
        {Picture, "", false, {}, true, true},
        {Picture, "narrow", false, {OutOfMemory}, false, false},
        {Picture, "in-process", false, {OutOfMemory}, false, false},
        {PastTheCap, "", true, {}, true, false},
    };
    for (const char* copy : {"narrow\\npkavrel.dll", "narrow\\npkavrel-decoder.exe", "in-process\\npkavrel.dll"}) {
        std::string target = BuildPath(copy);
        CreateDirectoryA(target.substr(0, target.rfind('\\')).c_str(), nullptr);
        ASSERT_TRUE(CopyFileA(BuildPath(strchr(copy, '\\') + 1).c_str(), target.c_str(), FALSE)) << copy;
    }
    for (const SaveRow& row : rows) {
        SCOPED_TRACE(std::string(row.picture) + " " + row.folder);
        std::vector<uint8_t> file = FileBytes(FixturePath(row.picture));
        std::vector<uint8_t> expected = FullBitmapFile(file);
        ASSERT_FALSE(expected.empty());
        uint64_t bitmap = BitmapBytes(file);
        ASSERT_NE(0u, bitmap);
        Browser browser;
        InitializeBrowser(&browser, 0x000B, nullptr);
        std::string folder = row.folder[0] ? BuildPath(row.folder) + "\\" : BuildPath("");
        ASSERT_TRUE(LoadPluginLibrary(&browser, (folder + "npkavrel.dll").c_str()));
        ASSERT_TRUE(StartPlugin(&browser));
        EnablePageBrowsing(&browser);
        BrowserFrame* frame = OpenFrame(&browser, FixturePath(row.picture), 600, 600, DefaultStreamOptions());
        ASSERT_NE(nullptr, frame);
        EXPECT_TRUE(WaitUntilQuiet(300, 30000));
        std::string path = folder + "saved.bmp";
        DeleteFileA(path.c_str());
        uint64_t largestFree = 0;
        std::vector<std::string> messages =
            SaveWithRoomFor(frame->instances[0]->window, row.viewsOnly ? ViewBytes : bitmap * 2, path, &largestFree);
        EXPECT_EQ(row.messages, messages);
        if (row.viewsOnly) {
            EXPECT_LT(largestFree, bitmap) << "the browser had room to map the bitmap whole";
        }
        if (row.saved) {
            ASSERT_TRUE(FileBytes(path) == expected);
            printf("saved %s through the 64-bit decoder: %llu bytes; largest range free in the browser's process "
                   "meanwhile: %llu MiB\n",
                   row.picture, (unsigned long long)expected.size(), (unsigned long long)(largestFree >> 20));
        } else {
            EXPECT_FALSE(FileExists(path));
        }
        if (row.copied) {
            HWND window = frame->instances[0]->window;
            EXPECT_EQ(1, RightClickAndRun(window, {Pick(window, {{WM_CHAR, (WPARAM)'c'}})}, 60000));
            std::vector<uint8_t> dib(expected.begin() + 14, expected.end());
            EXPECT_TRUE(ClipboardDib(dib.size()) == dib);
        }
        CloseFrame(frame);
        ShutdownPlugin(&browser);
    }
}

}  // namespace

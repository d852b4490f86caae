// The 32-bit plug-in on 64-bit Windows, run by CTest in the x86-64 build's
// Wine prefix (wide_decoder.sh): it starts the 64-bit decoder of the build
// beside its own (win -> win64), About and the system say so, and a full
// picture that the 32-bit browser has no room to decode is saved through
// that decoder exactly as j2k2bmp writes it. The same DLL beside its own
// 32-bit decoder, or alone, in the same room, cannot have it.
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
// Free beside the bitmap's range while the full picture is prepared, in
// fragments: thread stacks and the heap's growth, never the codec's 48 MB
// of samples. Wine's ullAvailVirtual does not count reservations, so the
// browser's admission does not see them (on Windows it would refuse the
// 32-bit decoder the full picture); a 32-bit decoder is filled as well, and
// the codec's own allocations fail there.
const uint64_t FragmentBytes = 4 << 20;

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

// The full picture's bitmap, the one range the test leaves free for it.
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

// Save as bitmap of the full page, every 32-bit process taking part filled
// while the Save As dialog is open; the plug-in's messages, until the file
// is there or a message came.
std::vector<std::string> SaveWithRoomFor(HWND image, uint64_t bitmap, const std::string& path) {
    std::vector<std::string> messages;
    std::vector<HANDLE> processes = OpenThirtyTwoBitProcesses();
    std::vector<std::vector<void*>> blocks;
    SaveDialogView dialog;
    UiStep reserve = [&] {
        if (!FindThreadWindow("#32770", SaveDialogCaption())) return false;
        for (HANDLE process : processes) blocks.push_back(ReserveAddressSpace(FragmentBytes, bitmap * 2, process));
        return true;
    };
    UiStep answer = AnswerPluginMessage(&messages);
    UiStep ended = [&] { return answer() || FileExists(path); };
    RightClickAndRun(image, {Pick(image, Down(2)), reserve, AnswerSaveDialog(&dialog, 2, path), ended}, 30000);
    for (size_t i = 0; i < processes.size(); ++i) {
        if (i < blocks.size()) ReleaseAddressSpace(blocks[i], processes[i]);
        if (i > 0) CloseHandle(processes[i]);
    }
    return messages;
}

struct SaveRow {
    const char* folder;  // of build/win holding the DLL and the decoder it takes
    std::vector<std::string> messages;
    bool saved;
};

TEST(WideDecoder, FullPictureWithRoomForItsBitmapOnlyIsSavedThroughThe64BitDecoder) {
    ASSERT_TRUE(RunsUnderWow64()) << "runs in the 64-bit prefix only (wide_decoder.sh)";
    std::vector<uint8_t> file = FileBytes(FixturePath(Picture));
    uint8_t* dib = nullptr;
    ASSERT_TRUE(DecodeToPackedDib(&dib, file.data(), (int32_t)file.size()));
    std::vector<uint8_t> expected = BitmapFileOf(dib);
    free(dib);
    uint64_t bitmap = BitmapBytes(file);
    ASSERT_NE(0u, bitmap);
    // Copies in folders of other names: with the 32-bit decoder beside
    // it, and alone (decoding in the browser's process).
    const SaveRow rows[] = {
        {"", {}, true},
        {"narrow", {"The full picture could not be prepared: out of memory."}, false},
        {"in-process", {"The full picture could not be prepared: out of memory."}, false},
    };
    for (const char* copy : {"narrow\\npkavrel.dll", "narrow\\npkavrel-decoder.exe", "in-process\\npkavrel.dll"}) {
        std::string target = BuildPath(copy);
        CreateDirectoryA(target.substr(0, target.rfind('\\')).c_str(), nullptr);
        ASSERT_TRUE(CopyFileA(BuildPath(strchr(copy, '\\') + 1).c_str(), target.c_str(), FALSE)) << copy;
    }
    for (const SaveRow& row : rows) {
        SCOPED_TRACE(row.folder);
        Browser browser;
        InitializeBrowser(&browser, 0x000B, nullptr);
        std::string folder = row.folder[0] ? BuildPath(row.folder) + "\\" : BuildPath("");
        ASSERT_TRUE(LoadPluginLibrary(&browser, (folder + "npkavrel.dll").c_str()));
        ASSERT_TRUE(StartPlugin(&browser));
        EnablePageBrowsing(&browser);
        BrowserFrame* frame = OpenFrame(&browser, FixturePath(Picture), 600, 600, DefaultStreamOptions());
        ASSERT_NE(nullptr, frame);
        EXPECT_TRUE(WaitUntilQuiet(300, 30000));
        std::string path = folder + "saved.bmp";
        DeleteFileA(path.c_str());
        std::vector<std::string> messages = SaveWithRoomFor(frame->instances[0]->window, bitmap, path);
        EXPECT_EQ(row.messages, messages);
        if (row.saved) {
            EXPECT_TRUE(FileBytes(path) == expected);
        } else {
            EXPECT_FALSE(FileExists(path));
        }
        CloseFrame(frame);
        ShutdownPlugin(&browser);
    }
}

}  // namespace

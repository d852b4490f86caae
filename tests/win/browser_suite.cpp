// One started plug-in per test suite, and no frame left over between tests;
// the test browser run as a process of its own; the menu used as a user does.
#include "browser_suite.h"

#include <stdlib.h>

#include "test_files.h"

Browser BrowserSuite::browser;

void BrowserSuite::SetUpTestSuite() {
    InitializeBrowser(&browser, 0x000B, nullptr);
    const char* host = getenv("NPKAVREL_TEST_HOST");
    int mode = HostPlain;
    ASSERT_TRUE(host == nullptr || ParseHostMode(host, &mode)) << host;
    SetHostMode(&browser, mode);
    browser.printUrlRequests = 0;
    ASSERT_TRUE(LoadPluginLibrary(&browser, "npkavrel.dll"));
    ASSERT_TRUE(StartPlugin(&browser));
    EnablePageBrowsing(&browser);
}

void BrowserSuite::TearDownTestSuite() { ShutdownPlugin(&browser); }

void BrowserSuite::SetUp() {
    browser.urlRequestCount = 0;
    browser.popupsBlocked = 0;
    browser.hangs = 0;
    browser.hostSubclassLost = 0;
    browser.printCalls = 0;
}

void BrowserSuite::TearDown() {
    while (!OpenFrames().empty()) CloseFrame(OpenFrames()[0]);
    EXPECT_EQ(0, browser.hangs);
    EXPECT_EQ(0, browser.hostSubclassLost);
}

BrowserFrame* BrowserSuite::Open(const std::string& document, int width, int height, StreamOptions options) {
    BrowserFrame* frame = OpenFrame(&browser, document, width, height, options);
    EXPECT_NE(frame, nullptr);
    EXPECT_TRUE(WaitUntilQuiet(300, 30000));
    return frame;
}

BrowserRun RunTestBrowser(const std::string& arguments, const std::string& directory,
                          const std::string& environment, DWORD timeoutMs) {
    BrowserRun run = {STILL_ACTIVE, ""};
    char build[MAX_PATH];
    GetCurrentDirectoryA(sizeof build, build);
    // A file of its own per run: a helper process the browser's dialogs start
    // may inherit the output handle and outlive the run that made it.
    static int runs = 0;
    std::string outputPath = directory + "\\testbrowser-output-" + std::to_string(GetCurrentProcessId()) + "-" +
                             std::to_string(++runs) + ".txt";
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE output = CreateFileA(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (output == INVALID_HANDLE_VALUE) return run;
    std::string commandLine = std::string("\"") + build + "\\testbrowser.exe\" \"" + build + "\\npkavrel.dll\" " +
                              arguments;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = output;
    startup.hStdError = output;
    PROCESS_INFORMATION process = {};
    // The child takes the environment as it is when it starts.
    size_t equals = environment.find('=');
    std::string name = environment.substr(0, equals);
    if (equals != std::string::npos) SetEnvironmentVariableA(name.c_str(), environment.c_str() + equals + 1);
    BOOL started = CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, directory.c_str(),
                                  &startup, &process);
    if (equals != std::string::npos) SetEnvironmentVariableA(name.c_str(), nullptr);
    CloseHandle(output);
    if (!started) return run;
    if (WaitForSingleObject(process.hProcess, timeoutMs) != WAIT_OBJECT_0) TerminateProcess(process.hProcess, 1);
    else GetExitCodeProcess(process.hProcess, &run.exitCode);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    run.output = FileText(outputPath);
    DeleteFileA(outputPath.c_str());
    return run;
}

int RightClickAndRun(HWND pluginWindow, const std::vector<UiStep>& steps, DWORD timeoutMs) {
    bool done = false;
    std::vector<UiStep> script = steps;
    script.push_back([&done]() { return done = true; });
    return RunModal(
               [&] {
                   PostMessageA(pluginWindow, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(5, 5));
                   PostMessageA(pluginWindow, WM_RBUTTONUP, 0, MAKELPARAM(5, 5));
                   DWORD deadline = GetTickCount() + timeoutMs + 2000;
                   MSG message;
                   while (!done && GetTickCount() < deadline) {
                       while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
                           TranslateMessage(&message);
                           DispatchMessageA(&message);
                       }
                       MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
                   }
               },
               script, timeoutMs) -
           1;
}

std::vector<KeyPress> Down(int count) {
    std::vector<KeyPress> keys(count, KeyPress{WM_KEYDOWN, VK_DOWN});
    keys.push_back({WM_KEYDOWN, VK_RETURN});
    return keys;
}
UiStep Pick(HWND owner, std::vector<KeyPress> keys, std::vector<std::string>* labels) {
    return UseOpenMenu(
        owner,
        [labels](HMENU menu) {
            for (int i = 0; labels != nullptr && i < GetMenuItemCount(menu); i++) {
                char label[512] = "";
                GetMenuStringA(menu, i, label, sizeof label, MF_BYPOSITION);
                labels->push_back(label);
            }
        },
        keys);
}

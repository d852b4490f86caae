// Test suites that drive npkavrel.dll through the test browser: the plug-in
// is loaded and started once per suite, and every frame a test opened is
// closed after it. The host imitated comes from NPKAVREL_TEST_HOST (plain,
// uxp-inproc, uxp-oop; plain when unset), so CTest can run each suite once per
// host when asked; no test may leave a hang or a lost host subclass behind.
#ifndef TESTS_WIN_BROWSER_SUITE_H
#define TESTS_WIN_BROWSER_SUITE_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "browser_page.h"
#include "ui_driver.h"

class BrowserSuite : public ::testing::Test {
protected:
    static Browser browser;
    static bool Uxp() { return browser.host != HostPlain; }
    // Loads and starts the plug-in with page browsing; request printing off.
    static void SetUpTestSuite();
    static void TearDownTestSuite();
    void SetUp() override;
    void TearDown() override;
    // Opens a document and serves messages until the browser is quiet.
    BrowserFrame* Open(const std::string& document, int width, int height,
                       StreamOptions options = DefaultStreamOptions());
};

// testbrowser.exe and npkavrel.dll of this build (the test's working
// directory) as a process of their own, as a person runs them: the
// arguments after the DLL's path, in `directory`, with `environment`
// ("NAME=value", or empty) added. What it printed (stdout and stderr) and its
// exit code; STILL_ACTIVE when it had not ended after timeoutMs (it is then
// ended).
struct BrowserRun {
    DWORD exitCode;
    std::string output;
};
BrowserRun RunTestBrowser(const std::string& arguments, const std::string& directory,
                          const std::string& environment, DWORD timeoutMs);

// What a user does: press the right button on the image and let it go.
// Messages are served until the script is through (or its time is up); the
// steps completed.
int RightClickAndRun(HWND pluginWindow, const std::vector<UiStep>& steps, DWORD timeoutMs = 8000);
// The menu's item `count` rows down chosen with Enter; Pick's step posts
// the keys to the open menu (its labels read into `labels` when given).
std::vector<KeyPress> Down(int count);
UiStep Pick(HWND owner, std::vector<KeyPress> keys, std::vector<std::string>* labels = nullptr);

#endif

// One started plug-in per test suite, and no frame left over between tests.
#include "browser_suite.h"

#include <stdlib.h>

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

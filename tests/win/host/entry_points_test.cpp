// npkavrel.dll loaded, initialised and shut down by the test browser through
// its three exports, as browsers of different NPAPI versions would.
#include <gtest/gtest.h>
#include <windows.h>

#include "browser.h"

namespace {

// Stand-ins the browser leaves in the plug-in table, to see what the plug-in
// overwrites.
void SentinelUrlNotify(NPP, const char*, NPReason, void*) {}
int SentinelJavaClass;

// A browser of the given version with sentinels in urlnotify and javaClass.
void StartSession(Browser* browser, uint16_t version) {
    InitializeBrowser(browser, version, nullptr);
    browser->printUrlRequests = 0;
    browser->pluginFuncs.urlnotify = SentinelUrlNotify;
    browser->pluginFuncs.javaClass = &SentinelJavaClass;
    ASSERT_EQ(LoadPluginLibrary(browser, "npkavrel.dll"), 1) << "error " << GetLastError();
}

// Minor version 11 and later get the plug-in's urlnotify and no javaClass;
// older ones keep what they set; another major version is refused.
TEST(EntryPoints, VersionDecidesUrlNotifyJavaClassAndRefusal) {
    const struct {
        uint16_t version;
        int started;
        NPError initialized;
        bool completed;
    } cases[] = {
        {0x000B, 1, NPERR_NO_ERROR, true},
        {0x0008, 1, NPERR_NO_ERROR, false},
        {0x0100, 0, NPERR_INCOMPATIBLE_VERSION_ERROR, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.version);
        Browser browser;
        StartSession(&browser, c.version);
        ASSERT_EQ(StartPlugin(&browser), c.started);
        EXPECT_EQ(browser.entryPointsResult, NPERR_NO_ERROR);
        EXPECT_EQ(browser.initializeResult, c.initialized);
        EXPECT_NE(browser.pluginFuncs.urlnotify, nullptr);
        EXPECT_EQ(browser.pluginFuncs.urlnotify != SentinelUrlNotify, c.completed);
        EXPECT_EQ(browser.pluginFuncs.javaClass, c.completed ? nullptr : &SentinelJavaClass);
        ShutdownPlugin(&browser);
        if (c.started) EXPECT_EQ(browser.shutdownResult, NPERR_NO_ERROR);
    }
}

TEST(EntryPoints, PluginTableIsFilledAsVersion11WithoutEventHandler) {
    Browser browser;
    StartSession(&browser, 0x000B);
    browser.pluginFuncs.event = reinterpret_cast<NPP_HandleEventProcPtr>(&SentinelJavaClass);
    ASSERT_EQ(StartPlugin(&browser), 1);
    const NPPluginFuncs& table = browser.pluginFuncs;
    EXPECT_EQ(table.version, 11);
    EXPECT_EQ(table.size, sizeof(NPPluginFuncs));
    EXPECT_NE(table.newp, nullptr);
    EXPECT_NE(table.destroy, nullptr);
    EXPECT_NE(table.setwindow, nullptr);
    EXPECT_NE(table.newstream, nullptr);
    EXPECT_NE(table.destroystream, nullptr);
    EXPECT_NE(table.asfile, nullptr);
    EXPECT_NE(table.writeready, nullptr);
    EXPECT_NE(table.write, nullptr);
    EXPECT_NE(table.print, nullptr);
    EXPECT_EQ(table.event, nullptr);
    // The plug-in answers no value queries: that member stays as the
    // browser set it; setvalue hears of a new screen scale.
    EXPECT_EQ(table.getvalue, nullptr);
    EXPECT_NE(table.setvalue, nullptr);
    ShutdownPlugin(&browser);
}

TEST(EntryPoints, NullTablesAreRefused) {
    Browser browser;
    StartSession(&browser, 0x000B);
    EXPECT_EQ(browser.getEntryPoints(nullptr), NPERR_INVALID_FUNCTABLE_ERROR);
    EXPECT_EQ(browser.initialize(nullptr), NPERR_INVALID_FUNCTABLE_ERROR);
    ShutdownPlugin(&browser);
}

// A browser that skips NP_GetEntryPoints gives the plug-in no table to
// complete; initialising must still succeed instead of writing through null.
TEST(EntryPoints, InitializeWithoutEntryPointsFirstIsSafe) {
    Browser browser;
    StartSession(&browser, 0x000B);
    browser.browserFuncs.size = sizeof(browser.browserFuncs);
    browser.browserFuncs.version = 0x000B;
    EXPECT_EQ(browser.initialize(&browser.browserFuncs), NPERR_NO_ERROR);
    EXPECT_EQ(browser.shutdown(), NPERR_NO_ERROR);
    ShutdownPlugin(&browser);
}

// Unloading and loading again starts the module afresh; a second browser
// session in the same process behaves like the first.
TEST(EntryPoints, ReloadAfterShutdownWorks) {
    for (int round = 0; round < 2; round++) {
        Browser browser;
        StartSession(&browser, 0x000B);
        EXPECT_EQ(StartPlugin(&browser), 1) << "round " << round;
        ShutdownPlugin(&browser);
        EXPECT_EQ(browser.shutdownResult, NPERR_NO_ERROR);
    }
}

// The same program runs once in the English and once in the Japanese locale.
TEST(EntryPoints, WineReportsTheLocaleOfTheRun) {
#ifdef EXPECT_JAPANESE_LOCALE
    EXPECT_EQ(GetUserDefaultLangID(), 1041);
    EXPECT_EQ(GetACP(), 932u);
#else
    EXPECT_NE(GetUserDefaultLangID(), 1041);
#endif
}

}  // namespace

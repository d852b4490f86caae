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

struct Session {
    Browser browser;
};

// A browser of the given version with sentinels in urlnotify and javaClass.
void StartSession(Session* session, uint16_t version) {
    InitializeBrowser(&session->browser, version, nullptr);
    session->browser.printUrlRequests = 0;
    session->browser.pluginFuncs.urlnotify = SentinelUrlNotify;
    session->browser.pluginFuncs.javaClass = &SentinelJavaClass;
    ASSERT_EQ(LoadPluginLibrary(&session->browser, "npkavrel.dll"), 1) << "error " << GetLastError();
}

TEST(EntryPoints, MinorVersion11GetsUrlNotifyAndNoJavaClass) {
    Session session;
    StartSession(&session, 0x000B);
    Browser& browser = session.browser;
    ASSERT_EQ(StartPlugin(&browser), 1);
    EXPECT_EQ(browser.entryPointsResult, NPERR_NO_ERROR);
    EXPECT_EQ(browser.initializeResult, NPERR_NO_ERROR);
    EXPECT_NE(browser.pluginFuncs.urlnotify, nullptr);
    EXPECT_NE(browser.pluginFuncs.urlnotify, SentinelUrlNotify);
    EXPECT_EQ(browser.pluginFuncs.javaClass, nullptr);
    ShutdownPlugin(&browser);
    EXPECT_EQ(browser.shutdownResult, NPERR_NO_ERROR);
}

TEST(EntryPoints, MinorVersion8LeavesUrlNotifyAndJavaClassAlone) {
    Session session;
    StartSession(&session, 0x0008);
    Browser& browser = session.browser;
    ASSERT_EQ(StartPlugin(&browser), 1);
    EXPECT_EQ(browser.pluginFuncs.urlnotify, SentinelUrlNotify);
    EXPECT_EQ(browser.pluginFuncs.javaClass, &SentinelJavaClass);
    ShutdownPlugin(&browser);
}

TEST(EntryPoints, MajorVersion1IsRefused) {
    Session session;
    StartSession(&session, 0x0100);
    Browser& browser = session.browser;
    EXPECT_EQ(StartPlugin(&browser), 0);
    EXPECT_EQ(browser.entryPointsResult, NPERR_NO_ERROR);
    EXPECT_EQ(browser.initializeResult, NPERR_INCOMPATIBLE_VERSION_ERROR);
    EXPECT_EQ(browser.pluginFuncs.urlnotify, SentinelUrlNotify);
    ShutdownPlugin(&browser);
}

TEST(EntryPoints, PluginTableIsFilledAsVersion11WithoutEventHandler) {
    Session session;
    StartSession(&session, 0x000B);
    Browser& browser = session.browser;
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
    // Members the plug-in does not answer stay as the browser set them.
    EXPECT_EQ(table.getvalue, nullptr);
    EXPECT_EQ(table.setvalue, nullptr);
    ShutdownPlugin(&browser);
}

TEST(EntryPoints, NullTablesAreRefused) {
    Session session;
    StartSession(&session, 0x000B);
    Browser& browser = session.browser;
    EXPECT_EQ(browser.getEntryPoints(nullptr), NPERR_INVALID_FUNCTABLE_ERROR);
    EXPECT_EQ(browser.initialize(nullptr), NPERR_INVALID_FUNCTABLE_ERROR);
    ShutdownPlugin(&browser);
}

// A browser that skips NP_GetEntryPoints gives the plug-in no table to
// complete; initialising must still succeed instead of writing through null.
TEST(EntryPoints, InitializeWithoutEntryPointsFirstIsSafe) {
    Session session;
    StartSession(&session, 0x000B);
    Browser& browser = session.browser;
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
        Session session;
        StartSession(&session, 0x000B);
        EXPECT_EQ(StartPlugin(&session.browser), 1) << "round " << round;
        ShutdownPlugin(&session.browser);
        EXPECT_EQ(session.browser.shutdownResult, NPERR_NO_ERROR);
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

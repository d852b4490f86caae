// The browser destroys the instance inside each of the plug-in's modal loops
// and waits: the test browser, run as its own process through npkavrel.dll
// under Wine's heap checking (which fills freed blocks), must end cleanly:
// no crash on a touch of the freed record, no hang, and no browser call
// with the destroyed instance's NPP.
#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "browser_suite.h"
#include "fixture_path.h"

namespace {

// The destroy comes while the loop is open: a dialog, menu or box stays up
// until the input after the pause answers it; the full picture's wait is
// met by a destroy planned when its status text shows, since how long the
// decode takes depends on the machine. Printing decodes only the
// level the printer's dots need, which for the test browser's print into a
// bitmap of the element's size is the level already shown: no wait may open
// there, so that row only asks for a clean end under heap checking; the
// Print command's own dialog is a loop like the others.
struct LoopRow {
    const char* loop;
    const char* arguments;
    const char* document;
    bool loopOpens;
};

const LoopRow LoopRows[] = {
    {"Save dialog (Ctrl+S)", "--send \"ctrl+s wait@8000 enter\" --destroy-after-ms 4000", "gallery4000.j2k", true},
    {"full picture wait (Ctrl+C)", "--send ctrl+c --destroy-on-status", "overcap.j2k", true},
    {"context menu (menu key)", "--send \"apps wait@8000 enter\" --destroy-after-ms 4000", "quad.j2k", true},
    {"message box (Ctrl+S on a broken-off download)",
     "--end-reason 1 --send \"ctrl+s wait@8000 enter\" --destroy-after-ms 4000", "gallery4000.j2k", true},
    {"print dialog (Ctrl+P)", "--send \"ctrl+p wait@8000 esc\" --destroy-after-ms 4000", "quad.j2k", true},
    {"print (NPP_Print, in process UXP)", "--host uxp-inproc --print 0 print.bmp --destroy-after-ms 500",
     "overcap.j2k", false},
};

TEST(DestroyInLoops, EveryModalLoopAndWaitOutlivesTheDestroyOfItsInstance) {
    char directory[MAX_PATH];
    ASSERT_NE(GetTempPathA(sizeof directory, directory), 0u);
    for (const LoopRow& row : LoopRows) {
        std::string arguments = std::string(row.arguments) + " --wait-ms 20000 " + FixturePath(row.document);
        BrowserRun run = RunTestBrowser(arguments, directory, "WINEDEBUG=warn+heap", 90000);
        EXPECT_EQ(run.exitCode, 0u) << row.loop << ":\n" << run.output;
        EXPECT_NE(run.output.find("destroyed 1 instance(s)"), std::string::npos) << row.loop << ":\n" << run.output;
        if (row.loopOpens) {
            EXPECT_NE(run.output.find("destroyed 1 instance(s) inside"), std::string::npos) << row.loop << ":\n"
                                                                                             << run.output;
        }
    }
}

}  // namespace

// A document of several pages as a full page, through npkavrel.dll in the
// test browser: Page Down and Page Up at the ends of a page and the menu's
// page items go from page to page, and About names the page shown, its own
// size, and what of it was held in another file.
#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "browser_suite.h"
#include "fixture_path.h"
#include "ui_driver.h"

namespace {

struct PageRow {
    const char* inputs;
    int page;  // 1-based, of pages.jpm's three
    const char* size;
    bool externalData;
};

// The browser prints the dialogs in UTF-8; the Japanese texts here are
// written u8 so that the build's Shift_JIS does not apply to them.
// Each run ends by opening About from the menu; pages.jpm's pages are 64 x 48,
// 48 x 64 and 32 x 32, the second with an object held in another file.
const PageRow PageRows[] = {
    {"", 1, "64 x 48", false},
    {"pgdn", 2, "48 x 64", true},
    {"pgdn pgdn pgdn", 3, "32 x 32", false},
    {"pgdn pgdn pgup", 2, "48 x 64", true},
    {"pgup", 1, "64 x 48", false},
    {"apps x apps x apps e", 2, "48 x 64", true},
};

std::string AboutRun(const std::string& inputs) {
    char directory[MAX_PATH];
    EXPECT_NE(GetTempPathA(sizeof directory, directory), 0u);
    std::string send = inputs + (inputs.empty() ? "" : " ") + "apps a wait@1000 esc";
    std::string arguments = "--dump-dialogs --send \"" + send + "\" " + FixturePath("pages.jpm");
    BrowserRun run = RunTestBrowser(arguments, directory, "", 90000);
    EXPECT_EQ(run.exitCode, 0u) << run.output;
    return run.output;
}

TEST(DocumentPages, PageKeysAndMenuItemsGoFromPageToPage) {
    for (const PageRow& row : PageRows) {
        SCOPED_TRACE(row.inputs);
        std::string about = AboutRun(row.inputs);
        std::string english = "Page: " + std::to_string(row.page) + " of 3";
        std::string japanese = u8"ページ: " + std::to_string(row.page) + " / 3";
        std::string size = std::string(ExpectedText("Dimensions:\t", u8"画像サイズ:\t")) + row.size;
        EXPECT_NE(about.find(ExpectedText(english.c_str(), japanese.c_str())), std::string::npos) << about;
        EXPECT_NE(about.find(size), std::string::npos) << about;
        const char* note = ExpectedText("data held in other files (not fetched)", u8"他のファイルにあるデータ (取得していません)");
        EXPECT_EQ(about.find(note) != std::string::npos, row.externalData) << about;
    }
}

}  // namespace

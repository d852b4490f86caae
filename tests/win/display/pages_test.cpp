// A document of several pages as a full page, through npkavrel.dll in the
// test browser: Page Down and Page Up at the ends of a page and the menu's
// page items go from page to page, and About names the page shown, its own
// size, and what of it was held in another file.
#include <windows.h>

#include <string>
#include <vector>

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
// One run of the browser: each row's inputs, then About opened from the
// menu and closed. pages.jpm's pages are 64 x 48, 48 x 64 and 32 x 32, the
// second with an object held in another file.
const PageRow PageRows[] = {
    {"", 1, "64 x 48", false},
    {"pgup", 1, "64 x 48", false},
    {"pgdn", 2, "48 x 64", true},
    {"pgdn pgdn", 3, "32 x 32", false},
    {"pgup", 2, "48 x 64", true},
    {"apps x", 3, "32 x 32", false},
    {"apps e apps e", 1, "64 x 48", false},
    {"apps x", 2, "48 x 64", true},
};

// The About dialogs the run printed, in order.
std::vector<std::string> AboutTexts() {
    char directory[MAX_PATH];
    EXPECT_NE(GetTempPathA(sizeof directory, directory), 0u);
    std::string send;
    for (const PageRow& row : PageRows) {
        send += std::string(row.inputs) + (row.inputs[0] ? " " : "") + "apps a wait@1000 esc ";
    }
    // The limits only end a run whose key was lost: some forty keys, each
    // waiting for the page to settle, and eight pauses took most of the
    // default minute on a loaded machine.
    std::string arguments =
        "--dump-dialogs --wait-ms 180000 --send \"" + send + "\" " + FixturePath("pages.jpm");
    BrowserRun run = RunTestBrowser(arguments, directory, "", 240000);
    EXPECT_EQ(run.exitCode, 0u) << run.output;
    std::vector<std::string> texts;
    for (size_t at = run.output.find("dialog: "); at != std::string::npos;) {
        size_t next = run.output.find("dialog: ", at + 1);
        texts.push_back(run.output.substr(at, next == std::string::npos ? std::string::npos : next - at));
        at = next;
    }
    return texts;
}

TEST(DocumentPages, PageKeysAndMenuItemsGoFromPageToPage) {
    std::vector<std::string> texts = AboutTexts();
    ASSERT_EQ(texts.size(), sizeof PageRows / sizeof PageRows[0]);
    for (size_t i = 0; i < texts.size(); ++i) {
        const PageRow& row = PageRows[i];
        SCOPED_TRACE(row.inputs);
        const std::string& about = texts[i];
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

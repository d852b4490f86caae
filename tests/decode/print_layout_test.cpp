// A printed picture's place on the page and the level decoded for it, and
// the resolution a file states.
#include <gtest/gtest.h>

#include "fixture_encoder.h"
#include "jpeg2000.h"
#include "print_layout.h"

namespace {

// A4's printable area at 300 dpi as Debian's PDF printer gives it (the
// whole sheet), portrait and across.
const PrinterPage A4At300 = {2479, 3508, 300, 300};
const PrinterPage A4At300Across = {3508, 2479, 300, 300};

TEST(PlanPrintLayout, FittedOrAtStatedSizeCentredFromTheLevelThePrinterNeeds)
{
    struct Case {
        const char* what;
        PrinterPage page;
        PrintedPicture picture;
        PrintLayout layout;
    } cases[] = {
        {"square: full width, even margins above and below, 2000 would be too few dots",
         A4At300, {4000, 4000, 0, 5, 0, 0}, {0, 514, 2479, 2479, 0, 0}},
        {"the same at 150 dpi: half the picture covers it", {1240, 1754, 150, 150},
         {4000, 4000, 0, 5, 0, 0}, {0, 257, 1240, 1240, 1, 0}},
        {"a 50,000-pixel scan at 600 dpi: 6250 across covers 4960 dots", {4960, 7016, 600, 600},
         {50000, 50000, 0, 5, 0, 0}, {0, 1028, 4960, 4960, 3, 0}},
        {"wide across the paper: the height decides nothing", A4At300Across,
         {3000, 1000, 0, 5, 0, 0}, {0, 655, 3508, 1169, 0, 0}},
        {"tall on a page across: fitted to the height", A4At300Across,
         {1000, 3000, 0, 5, 0, 0}, {1341, 0, 826, 2479, 0, 0}},
        {"a small picture is enlarged to the page", A4At300, {100, 50, 0, 2, 0, 0},
         {0, 1134, 2479, 1240, 0, 0}},
        {"300 pixels per inch stated: 2 x 1 inches at its size", A4At300,
         {600, 300, 0, 5, 11811.0, 11811.0}, {939, 1604, 600, 300, 0, 1}},
        {"the same on a 600 dpi printer: the full picture, enlarged", {4960, 7016, 600, 600},
         {600, 300, 0, 5, 11811.0, 11811.0}, {1880, 3208, 1200, 600, 0, 1}},
        {"a stated size larger than the paper is fitted", A4At300,
         {4000, 4000, 0, 5, 2834.6, 2834.6}, {0, 514, 2479, 2479, 0, 0}},
        {"stated pixels twice as tall as wide", A4At300,
         {600, 300, 0, 5, 11811.0, 5905.5}, {939, 1454, 600, 600, 0, 1}},
        {"dots twice as dense across", {4958, 3508, 600, 300},
         {4000, 4000, 0, 5, 0, 0}, {0, 514, 4958, 2479, 0, 0}},
        {"past the sample cap: never above its level", A4At300,
         {12000, 12000, 2, 6, 0, 0}, {0, 514, 2479, 2479, 2, 0}},
        {"the codestream's smallest level is the limit", {100, 100, 96, 96},
         {4000, 4000, 0, 2, 0, 0}, {0, 0, 100, 100, 2, 0}},
    };
    for (const Case& c : cases) {
        PrintLayout layout;
        ASSERT_TRUE(PlanPrintLayout(&layout, &c.page, &c.picture)) << c.what;
        EXPECT_EQ(c.layout.left, layout.left) << c.what;
        EXPECT_EQ(c.layout.top, layout.top) << c.what;
        EXPECT_EQ(c.layout.width, layout.width) << c.what;
        EXPECT_EQ(c.layout.height, layout.height) << c.what;
        EXPECT_EQ(c.layout.reduce, layout.reduce) << c.what;
        EXPECT_EQ(c.layout.atStatedSize, layout.atStatedSize) << c.what;
    }
    const PrintedPicture picture = {4000, 4000, 0, 5, 0, 0};
    const PrinterPage noDots = {2479, 3508, 0, 300};
    PrintLayout layout;
    EXPECT_FALSE(PlanPrintLayout(&layout, &noDots, &picture));
    const PrintedPicture empty = {0, 4000, 0, 5, 0, 0};
    EXPECT_FALSE(PlanPrintLayout(&layout, &A4At300, &empty));
}

TEST(PrintsAcross, WiderThanTallAsPrinted)
{
    struct Case {
        PrintedPicture picture;
        int across;
    } cases[] = {
        {{3000, 1000, 0, 5, 0, 0}, 1},
        {{1000, 3000, 0, 5, 0, 0}, 0},
        {{1000, 1000, 0, 5, 0, 0}, 0},
        {{1000, 800, 0, 5, 1000.0, 500.0}, 0},  // stated pixels twice as tall
        {{800, 1000, 0, 5, 500.0, 1000.0}, 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.across, PrintsAcross(&c.picture)) << c.picture.fullWidth << "x" << c.picture.fullHeight;
    }
}

// A JP2 header holding "res " with the given resolution boxes (no
// codestream: the resolution is read from the header alone).
std::vector<uint8_t> FileWithResolution(const std::vector<std::pair<const char*, std::vector<uint8_t>>>& boxes)
{
    FixtureImage image = MakePatternImage(4, 4, {{8, 0, 1, 1}});
    std::vector<uint8_t> file = WrapJp2Family({0xFF, 0x4F, 0xFF, 0x51}, image, "jp2 ");
    std::vector<uint8_t> res;
    for (const auto& box : boxes) {
        AppendBox(&res, box.first, box.second);
    }
    std::vector<uint8_t> resBox;
    AppendBox(&resBox, "res ", res);
    return AppendToJp2Header(file, resBox);
}

TEST(ReadPictureResolution, DisplayBeforeCaptureInPixelsPerMetre)
{
    const std::vector<uint8_t> at300 = ResolutionFields(11811, 1, 11811, 1, 0, 0);
    const std::vector<uint8_t> at72 = ResolutionFields(28346, 10, 28346, 10, 0, 0);
    struct Case {
        const char* what;
        std::vector<uint8_t> file;
        int stated;
        double x;
        double y;
    } cases[] = {
        {"display only", FileWithResolution({{"resd", at300}}), 1, 11811, 11811},
        {"capture only", FileWithResolution({{"resc", at72}}), 1, 2834.6, 2834.6},
        {"display wins over capture", FileWithResolution({{"resc", at72}, {"resd", at300}}), 1, 11811, 11811},
        {"vertical first, powers of ten", FileWithResolution({{"resd", ResolutionFields(5, 1, 12, 1, 3, 2)}}), 1,
         1200, 5000},
        {"negative power", FileWithResolution({{"resc", ResolutionFields(3937, 1, 3937, 1, -1, -1)}}), 1, 393.7,
         393.7},
        {"a zero denominator states nothing", FileWithResolution({{"resd", ResolutionFields(1, 0, 1, 1, 0, 0)}}), 0,
         0, 0},
        {"an implausible power states nothing",
         FileWithResolution({{"resd", ResolutionFields(1, 1, 1, 1, 100, 0)}}), 0, 0, 0},
        {"a box cut short", FileWithResolution({{"resd", std::vector<uint8_t>(at300.begin(), at300.end() - 1)}}), 0,
         0, 0},
        {"no res box", FileWithResolution({}), 0, 0, 0},
    };
    for (const Case& c : cases) {
        PictureResolution resolution;
        int kind = ClassifyFileKind(c.file.data(), (uint32_t)c.file.size());
        EXPECT_EQ(c.stated, ReadPictureResolution(&resolution, kind, c.file.data(), (uint32_t)c.file.size()))
            << c.what;
        EXPECT_NEAR(c.x, resolution.pixelsPerMetreX, 0.01) << c.what;
        EXPECT_NEAR(c.y, resolution.pixelsPerMetreY, 0.01) << c.what;
    }
    // A header box whose length runs past the file is not read (the file
    // ends with the 12-byte codestream box).
    std::vector<uint8_t> cut = FileWithResolution({{"resd", at300}});
    cut.resize(cut.size() - 13);
    PictureResolution resolution;
    EXPECT_FALSE(ReadPictureResolution(&resolution, FileKindJp2, cut.data(), (uint32_t)cut.size()));
}

} // namespace

// The level a view needs, and what a level's decode is planned to take.
#include <gtest/gtest.h>

#include "jpeg2000.h"

namespace {

TEST(ChooseViewReduce, SmallestLevelCoveringTheViewOnBothAxes)
{
    struct Case {
        uint32_t fullWidth, fullHeight, viewWidth, viewHeight;
        int minReduce, maxReduce, reduce;
    } cases[] = {
        {4000, 4000, 150, 150, 0, 5, 4},     // 250 x 250 covers, 125 would not
        {4000, 4000, 250, 250, 0, 5, 4},     // exactly covered
        {4000, 4000, 251, 250, 0, 5, 3},     // one axis short: the next larger level
        {4000, 4000, 150, 600, 0, 5, 2},     // the taller axis decides
        {4000, 4000, 150, 150, 0, 2, 2},     // the codestream holds no smaller level
        {4000, 4000, 4000, 4000, 0, 5, 0},   // actual size
        {4000, 4000, 8000, 8000, 0, 5, 0},   // larger than the picture: full
        {4001, 3, 2001, 1, 0, 5, 1},         // odd sizes round up: 2001 x 2
        {12000, 12000, 150, 150, 2, 6, 6},   // past the cap, small view
        {12000, 12000, 6000, 6000, 2, 6, 2}, // past the cap: never above the cap's level
        {4000, 4000, 0, 0, 0, 5, 5},         // nothing to cover
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.reduce, ChooseViewReduce(c.fullWidth, c.fullHeight, c.viewWidth, c.viewHeight, c.minReduce,
                                             c.maxReduce))
            << c.fullWidth << "x" << c.fullHeight << " at " << c.viewWidth << "x" << c.viewHeight;
    }
}

TEST(ChooseFullReduce, FinestLevelWithinTheCapAndTheMemoryNeverCoarserThanShown)
{
    DecodePlan grey = {12000, 12000, 6000, 6000, 1, 3, 6, 1, 8};     // past 2^27 samples
    DecodePlan rgb = {40000, 40000, 5000, 5000, 3, 5, 8, 3, 24};     // 4.8e9 samples
    DecodePlan subsampled = {8000, 8000, 8000, 8000, 0, 2, 5, 3, 24}; // chroma halved: fits the cap whole
    const uint64_t Wide = 1ull << 30, Narrow = 1ull << 27, Plenty = UINT64_MAX;
    struct Case {
        const DecodePlan* plan;
        uint64_t sampleLimit, budget;
        int reduce;
    } cases[] = {
        {&grey, Wide, Plenty, 0},
        {&grey, Narrow, Plenty, 1},          // the plan's own cap: the level shown
        {&grey, Wide, 500ull << 20, 1},      // 720 MB planned at full size
        {&rgb, Wide, Plenty, 2},             // 1.2e9 samples at 1/2
        {&subsampled, Narrow, Plenty, 0},    // counted on the full grid, still never coarser than shown
        {&grey, Wide, 0, 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.reduce, ChooseFullReduce(c.plan, c.sampleLimit, c.budget, 0))
            << c.plan->fullWidth << " cap " << c.sampleLimit << " budget " << c.budget;
    }
}

TEST(PlannedDecodeBytes, SamplesBitmapAndCompressedBytes)
{
    DecodePlan rgb = {4000, 4000, 4000, 4000, 0, 2, 5, 3, 24};
    DecodePlan grey = {1001, 3, 1001, 3, 0, 0, 5, 1, 8};
    struct Case {
        const DecodePlan* plan;
        int reduce;
        uint32_t compressed;
        uint64_t bytes;
    } cases[] = {
        {&rgb, 0, 0, 4000ull * 4000 * 3 * 4 + 4000ull * 4000 * 3},
        {&rgb, 4, 1000, 250ull * 250 * 3 * 4 + 752ull * 250 + 1000},  // 750-byte rows padded
        {&grey, 0, 0, 1001ull * 3 * 4 + 1004ull * 3},  // rows padded to 4 bytes
        {&grey, 1, 7, 501ull * 2 * 4 + 504ull * 2 + 7},
        {&rgb, 33, 0, UINT64_MAX},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.bytes, PlannedDecodeBytes(c.plan, c.reduce, c.compressed)) << c.reduce;
    }
}

} // namespace

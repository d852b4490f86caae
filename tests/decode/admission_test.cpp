// Admission of decodes by memory and processors.
#include <gtest/gtest.h>

#include "admission.h"

namespace {

TEST(AdmitDecode, MemoryAndProcessorsDecideWhenAndAtWhichLevel)
{
    // 4000 x 4000 RGB: 240 MB at full size, 60 MB at 1/2, 15 MB at 1/4,
    // 3.75 MB at 1/8 (samples x 4 + bitmap); the bitmap alone 48 MB, 12 MB
    // at 1/2 (the charge when the codec runs in another process).
    const DecodePlan plan = {4000, 4000, 4000, 4000, 0, 2, 5, 3, 24};
    const uint64_t MB = 1000000;
    struct Case {
        DecodeBudget budget;
        int wanted;
        int verdict, reduce, threads;
        uint64_t charged;  // when the codec runs elsewhere
    } cases[] = {
        {{2000 * MB, 0, 8, 0, 0, 0}, 0, AdmissionStart, 0, 8, 0},        // alone: every thread
        {{2000 * MB, 240 * MB, 8, 1, 7, 0}, 0, AdmissionStart, 0, 1, 0}, // threads shared
        {{2000 * MB, 240 * MB, 2, 1, 2, 0}, 0, AdmissionStart, 0, 1, 0}, // never fewer than one
        {{400 * MB, 240 * MB, 8, 1, 8, 0}, 0, AdmissionWait, 0, 0, 0},   // waits for the running one
        {{400 * MB, 240 * MB, 8, 1, 8, 0}, 2, AdmissionStart, 2, 1, 0},  // a smaller level fits beside it
        {{100 * MB, 0, 8, 0, 0, 0}, 0, AdmissionStart, 1, 8, 0},         // alone and too large: 1/2
        {{10 * MB, 0, 8, 0, 0, 0}, 0, AdmissionStart, 3, 8, 0},          // alone: 1/8
        {{1000, 0, 8, 0, 0, 0}, 0, AdmissionTooLarge, 0, 0, 0},          // nothing fits
        {{2000 * MB, 0, 8, 8, 8, 0}, 4, AdmissionWait, 4, 0, 0},         // one decode per processor
        {{60 * MB, 60 * MB, 8, 1, 4, 0}, 5, AdmissionWait, 5, 0, 0},     // nothing free beside it
        {{400 * MB, 240 * MB, 8, 1, 8, 1}, 0, AdmissionStart, 0, 1, 48 * MB},  // elsewhere: its bitmap fits beside
        {{100 * MB, 0, 8, 0, 0, 1}, 0, AdmissionStart, 0, 8, 48 * MB},         // elsewhere alone: the full level
        {{20 * MB, 0, 8, 0, 0, 1}, 0, AdmissionStart, 1, 8, 12 * MB},          // the bitmap must fit here
        {{40 * MB, 0, 8, 1, 1, 1}, 0, AdmissionWait, 0, 0, 0},                 // and waits when it does not
        {{20 * MB, 0, 8, 0, 0, 2}, 0, AdmissionStart, 0, 8, BitmapViewBytes},  // the bitmap read in views: a view
        {{2 * MB, 0, 8, 0, 0, 2}, 0, AdmissionStart, 3, 8, 1500 * 500},        // less than a view: 1/8 fits
    };
    for (const Case& c : cases) {
        Admission got = AdmitDecode(&c.budget, &plan, c.wanted, 0);
        SCOPED_TRACE(testing::Message() << "free " << c.budget.freeBytes << " running " << c.budget.runningDecodes
                                        << " wanted " << c.wanted << " elsewhere " << c.budget.peakElsewhere);
        EXPECT_EQ(c.verdict, got.verdict);
        if (c.verdict == AdmissionStart) {
            EXPECT_EQ(c.reduce, got.reduce);
            EXPECT_EQ(c.threads, got.threads);
            EXPECT_EQ(PlannedDecodeBytes(&plan, c.reduce, 0), got.plannedBytes);
            EXPECT_EQ(c.budget.peakElsewhere ? c.charged : got.plannedBytes, got.chargedBytes);
        }
    }
}

} // namespace

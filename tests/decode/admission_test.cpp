// Admission of decodes by memory and processors.
#include <gtest/gtest.h>

#include "admission.h"

namespace {

TEST(AdmitDecode, MemoryAndProcessorsDecideWhenAndAtWhichLevel)
{
    // 4000 x 4000 RGB: 240 MB at full size, 60 MB at 1/2, 15 MB at 1/4,
    // 3.75 MB at 1/8 (samples x 4 + bitmap).
    const DecodePlan plan = {4000, 4000, 4000, 4000, 0, 2, 5, 3, 24};
    const uint64_t MB = 1000000;
    struct Case {
        DecodeBudget budget;
        int wanted;
        int verdict, reduce, threads;
    } cases[] = {
        {{2000 * MB, 0, 8, 0, 0}, 0, AdmissionStart, 0, 8},              // alone: every thread
        {{2000 * MB, 240 * MB, 8, 1, 7}, 0, AdmissionStart, 0, 1},       // threads shared
        {{2000 * MB, 240 * MB, 2, 1, 2}, 0, AdmissionStart, 0, 1},       // never fewer than one
        {{400 * MB, 240 * MB, 8, 1, 8}, 0, AdmissionWait, 0, 0},         // waits for the running one
        {{400 * MB, 240 * MB, 8, 1, 8}, 2, AdmissionStart, 2, 1},        // a smaller level fits beside it
        {{100 * MB, 0, 8, 0, 0}, 0, AdmissionStart, 1, 8},               // alone and too large: 1/2
        {{10 * MB, 0, 8, 0, 0}, 0, AdmissionStart, 3, 8},                // alone: 1/8
        {{1000, 0, 8, 0, 0}, 0, AdmissionTooLarge, 0, 0},                // nothing fits
        {{2000 * MB, 0, 8, 8, 8}, 4, AdmissionWait, 4, 0},               // one decode per processor
        {{60 * MB, 60 * MB, 8, 1, 4}, 5, AdmissionWait, 5, 0},           // nothing free beside it
    };
    for (const Case& c : cases) {
        Admission got = AdmitDecode(&c.budget, &plan, c.wanted, 0);
        SCOPED_TRACE(testing::Message() << "free " << c.budget.freeBytes << " running " << c.budget.runningDecodes
                                        << " wanted " << c.wanted);
        EXPECT_EQ(c.verdict, got.verdict);
        if (c.verdict == AdmissionStart) {
            EXPECT_EQ(c.reduce, got.reduce);
            EXPECT_EQ(c.threads, got.threads);
            EXPECT_EQ(PlannedDecodeBytes(&plan, c.reduce, 0), got.plannedBytes);
        }
    }
}

} // namespace

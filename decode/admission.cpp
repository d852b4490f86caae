// Admission of decodes by memory and their share of the codec threads.
#include "admission.h"

namespace {

int ShareOfThreads(const DecodeBudget* budget)
{
    int left = budget->processors - budget->threadsInUse;
    return left > 1 ? left : 1;
}

uint64_t ChargedBytes(const DecodeBudget* budget, const DecodePlan* plan, int reduce, uint32_t compressedBytes)
{
    if (budget->peakElsewhere == PeakHere) {
        return PlannedDecodeBytes(plan, reduce, compressedBytes);
    }
    uint64_t bitmap = PlannedBitmapBytes(plan, reduce);
    return budget->peakElsewhere == PeakAndBitmapElsewhere && bitmap > BitmapViewBytes ? BitmapViewBytes : bitmap;
}

} // namespace

Admission AdmitDecode(const DecodeBudget* budget, const DecodePlan* plan, int wantedReduce, uint32_t compressedBytes)
{
    Admission admission = {AdmissionWait, wantedReduce, 0, 0, 0};
    if (budget->runningDecodes > 0 && budget->runningDecodes >= budget->processors) {
        return admission;
    }
    uint64_t free = budget->freeBytes > budget->committedBytes ? budget->freeBytes - budget->committedBytes : 0;
    int reduce = wantedReduce;
    uint64_t bytes = ChargedBytes(budget, plan, reduce, compressedBytes);
    if (bytes > free) {
        if (budget->runningDecodes > 0) {
            return admission;
        }
        // Alone: the largest level that fits, else nothing can.
        while (bytes > free && reduce < plan->maxReduce) {
            bytes = ChargedBytes(budget, plan, ++reduce, compressedBytes);
        }
        if (bytes > free) {
            admission.verdict = AdmissionTooLarge;
            return admission;
        }
    }
    admission.verdict = AdmissionStart;
    admission.reduce = reduce;
    admission.threads = ShareOfThreads(budget);
    admission.plannedBytes = PlannedDecodeBytes(plan, reduce, compressedBytes);
    admission.chargedBytes = bytes;
    return admission;
}

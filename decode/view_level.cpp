// Which resolution level a view needs, and what decoding a level costs in
// memory: both from the plan alone, before any sample is decoded.
#include "jpeg2000.h"

namespace {

uint64_t SaturatingAdd(uint64_t a, uint64_t b)
{
    return a > UINT64_MAX - b ? UINT64_MAX : a + b;
}

uint64_t SaturatingMultiply(uint64_t a, uint64_t b)
{
    return b != 0 && a > UINT64_MAX / b ? UINT64_MAX : a * b;
}

} // namespace

uint64_t LevelExtent(uint64_t full, int reduce)
{
    uint64_t below = (1ull << reduce) - 1;
    return (full >> reduce) + ((full & below) != 0 ? 1 : 0);
}

int ChooseViewReduce(uint32_t fullWidth, uint32_t fullHeight, uint32_t viewWidth, uint32_t viewHeight, int minReduce,
                     int maxReduce)
{
    if (minReduce < 0) {
        minReduce = 0;
    }
    if (maxReduce > 32) {
        maxReduce = 32;
    }
    int reduce = minReduce;
    while (reduce < maxReduce && LevelExtent(fullWidth, reduce + 1) >= viewWidth &&
           LevelExtent(fullHeight, reduce + 1) >= viewHeight) {
        ++reduce;
    }
    return reduce;
}

uint64_t PlannedDecodeBytes(const DecodePlan* plan, int reduce, uint32_t compressedBytes)
{
    if (plan == nullptr || reduce < 0 || reduce > 32) {
        return UINT64_MAX;
    }
    uint64_t width = LevelExtent(plan->fullWidth, reduce);
    uint64_t height = LevelExtent(plan->fullHeight, reduce);
    uint64_t pixels = SaturatingMultiply(width, height);
    uint64_t samples = SaturatingMultiply(pixels, plan->componentCount);
    uint64_t bitmap = PlannedBitmapBytes(plan, reduce);
    return SaturatingAdd(SaturatingAdd(SaturatingMultiply(samples, 4), bitmap), compressedBytes);
}

uint64_t PlannedBitmapBytes(const DecodePlan* plan, int reduce)
{
    if (plan == nullptr || reduce < 0 || reduce > 32) {
        return UINT64_MAX;
    }
    uint64_t width = LevelExtent(plan->fullWidth, reduce);
    uint64_t height = LevelExtent(plan->fullHeight, reduce);
    uint64_t stride = (SaturatingMultiply(width, plan->bitCount) + 31) / 32 * 4;
    return SaturatingMultiply(stride, height);
}

int ChooseFullReduce(const DecodePlan* plan, uint64_t sampleLimit, uint64_t budgetBytes, uint32_t compressedBytes)
{
    int reduce = 0;
    while (reduce < plan->shownReduce) {
        uint64_t pixels =
            SaturatingMultiply(LevelExtent(plan->fullWidth, reduce), LevelExtent(plan->fullHeight, reduce));
        if (SaturatingMultiply(pixels, plan->componentCount) <= sampleLimit &&
            PlannedDecodeBytes(plan, reduce, compressedBytes) <= budgetBytes) {
            break;
        }
        ++reduce;
    }
    return reduce;
}

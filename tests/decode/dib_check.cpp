// Test helpers shared by the decode suites.
#include "dib_check.h"
#include "jpeg2000.h"

#include <gtest/gtest.h>


DibPtr DecodeDib(const std::vector<uint8_t>& data, int* failure)
{
    uint8_t* dib = reinterpret_cast<uint8_t*>(1); // must be nulled on failure
    int localFailure = -1;
    int ok = DecodeToPackedDibDetailed(&dib, &localFailure, data.data(), (int32_t)data.size());
    if (failure != nullptr) {
        *failure = localFailure;
    }
    EXPECT_EQ(ok, dib != nullptr);
    EXPECT_EQ(ok, localFailure == DecodeFailureNone);
    return DibPtr(ok ? dib : nullptr);
}

DibView ViewDib(const uint8_t* dib)
{
    DibView v;
    v.width = Le32(dib + 4);
    v.height = Le32(dib + 8);
    v.bits = Le16(dib + 14);
    v.stride = (v.width * v.bits + 31) / 32 * 4;
    v.rows = PackedDibBits(dib);
    return v;
}

uint64_t HashDib(const uint8_t* dib)
{
    uint64_t hash = 1469598103934665603ull;
    for (int i = 0; i < PackedDibSize(dib); ++i) {
        hash = (hash ^ dib[i]) * 1099511628211ull;
    }
    return hash;
}

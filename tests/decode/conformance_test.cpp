// Conformance codestreams and JP2 files against their reference decodings.
#include "jpeg2000.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {

std::string ConformancePath(const std::string& name)
{
    return std::string(CONFORMANCE_DIR) + "/" + name;
}

bool ReadBytes(const std::string& path, std::vector<uint8_t>* out)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    out->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

struct FreeDeleter {
    void operator()(uint8_t* p) const { free(p); }
};
typedef std::unique_ptr<uint8_t, FreeDeleter> DibPtr;

uint32_t Le32(const uint8_t* p)
{
    return p[0] | p[1] << 8 | p[2] << 16 | (uint32_t)p[3] << 24;
}

struct DibView {
    uint32_t width, height, bits, stride;
    const uint8_t* rows;
    // Byte `channel` of the pixel at (x, y), y = 0 the top row.
    uint8_t At(uint32_t x, uint32_t y, uint32_t channel) const
    {
        return rows[(height - 1 - y) * stride + x * (bits / 8) + channel];
    }
};

DibView ViewDib(const uint8_t* dib)
{
    DibView v;
    v.width = Le32(dib + 4);
    v.height = Le32(dib + 8);
    v.bits = dib[14];
    v.stride = (v.width * v.bits + 31) / 32 * 4;
    v.rows = dib + 40 + PackedDibPaletteSize(dib);
    return v;
}

struct Component {
    uint32_t precision;
    bool isSigned;
    uint32_t width, height;
    std::vector<int32_t> samples;
};

bool ReadPgx(const std::string& path, Component* out)
{
    std::vector<uint8_t> bytes;
    if (!ReadBytes(path, &bytes)) {
        return false;
    }
    size_t eol = 0;
    while (eol < bytes.size() && bytes[eol] != '\n') {
        ++eol;
    }
    std::string header(bytes.begin(), bytes.begin() + eol);
    char order[3] = {0};
    char rest[64] = {0};
    if (sscanf(header.c_str(), "PG %2s %63[^\n]", order, rest) != 2) {
        return false;
    }
    std::string fields(rest);
    out->isSigned = fields.find('-') != std::string::npos;
    for (char& ch : fields) {
        if (ch == '+' || ch == '-') {
            ch = ' ';
        }
    }
    if (sscanf(fields.c_str(), "%u %u %u", &out->precision, &out->width, &out->height) != 3) {
        return false;
    }
    bool bigEndian = std::string(order) == "ML";
    size_t n = (size_t)out->width * out->height;
    size_t bytesPer = out->precision > 8 ? 2 : 1;
    if (bytes.size() < eol + 1 + n * bytesPer) {
        return false;
    }
    const uint8_t* p = bytes.data() + eol + 1;
    out->samples.resize(n);
    for (size_t i = 0; i < n; ++i) {
        uint32_t u = bytesPer == 1 ? p[i] : (bigEndian ? (p[2 * i] << 8 | p[2 * i + 1]) : (p[2 * i + 1] << 8 | p[2 * i]));
        int32_t v = (int32_t)u;
        if (out->isSigned && (u & (1u << (8 * bytesPer - 1)))) {
            v -= (int32_t)(1u << (8 * bytesPer));
        }
        out->samples[i] = v;
    }
    return true;
}

uint8_t SampleByte(int32_t v, uint32_t p)
{
    uint32_t u = (uint32_t)v & ((1u << p) - 1);
    return (uint8_t)(u >> (8 * ((p + 7) / 8 - 1)));
}

// Allowed error on the kept byte for a peak error e on the sample.
int AllowedByteError(int peak, uint32_t precision)
{
    if (precision <= 8 || peak == 0) {
        return peak;
    }
    return (peak >> 8) + 1;
}

struct CodestreamCase {
    const char* name;
    int componentCount; // in the codestream
    int referenceCount; // pgx files available
    int peaks[4];
    double mses[4];
    bool compare;       // false when the references are not at full resolution
};

const CodestreamCase kCodestreams[] = {
    {"p0_01", 1, 1, {0}, {0}, true},
    {"p0_02", 1, 1, {0}, {0}, true},
    {"p0_03", 1, 1, {0}, {0}, true},
    {"p0_04", 3, 3, {5, 4, 6}, {0.776, 0.626, 1.070}, true},
    {"p0_05", 4, 4, {2, 2, 2, 0}, {0.302, 0.307, 0.269, 0}, true},
    {"p0_06", 4, 4, {635, 403, 378, 0}, {11287, 6124, 3968, 0}, true},
    {"p0_08", 3, 3, {0}, {0}, false},
    {"p0_09", 1, 1, {0}, {0}, true},
    {"p0_10", 3, 3, {0}, {0}, true},
    {"p0_11", 1, 1, {0}, {0}, true},
    {"p0_12", 1, 1, {0}, {0}, true},
    {"p0_13", 257, 4, {0}, {0}, true},
    {"p0_14", 3, 3, {0}, {0}, true},
    {"p0_15", 1, 1, {0}, {0}, true},
    {"p0_16", 1, 1, {0}, {0}, true},
};

class CodestreamConformance : public testing::TestWithParam<CodestreamCase> {};

// One DIB channel against reference component `c`, consumed in raster order
// (0 past its end), through the grey table when `grey` is set.
void CompareChannel(const DibView& view, uint32_t channel, const Component& ref, int peak, double mse, bool grey)
{
    uint32_t bits = ref.precision > 8 ? 8 : ref.precision;
    uint32_t factor = grey ? 255u / ((1u << bits) - 1u) : 1u;
    int allowed = AllowedByteError(peak, ref.precision) * (int)factor;
    double squares = 0;
    int worst = 0;
    for (uint32_t y = 0; y < view.height; ++y) {
        for (uint32_t x = 0; x < view.width; ++x) {
            size_t k = (size_t)y * view.width + x;
            int want = k < ref.samples.size() ? SampleByte(ref.samples[k], ref.precision) : 0;
            if (grey) {
                want = (uint8_t)(factor * want);
            }
            int diff = abs((int)view.At(x, y, channel) - want);
            worst = diff > worst ? diff : worst;
            squares += (double)diff * diff;
        }
    }
    EXPECT_LE(worst, allowed) << "channel " << channel;
    // The mean squared error is defined on the samples; on the kept byte it
    // is only comparable while the byte is the whole sample.
    if (ref.precision <= 8 && !grey) {
        EXPECT_LE(squares / ((double)view.width * view.height), mse) << "channel " << channel;
    }
}

TEST_P(CodestreamConformance, MatchesReferenceComponents)
{
    const CodestreamCase& c = GetParam();
    std::vector<uint8_t> data;
    if (!ReadBytes(ConformancePath(std::string(c.name) + ".j2k"), &data)) {
        GTEST_SKIP() << "conformance data absent: " << CONFORMANCE_DIR;
    }
    uint8_t* raw = nullptr;
    ASSERT_EQ(1, DecodeToPackedDib(&raw, data.data(), (int32_t)data.size()));
    DibPtr dib(raw);
    DibView view = ViewDib(raw);
    std::vector<Component> refs(c.referenceCount);
    for (int i = 0; i < c.referenceCount; ++i) {
        std::string pgx = ConformancePath("c1" + std::string(c.name) + "_" + std::to_string(i) + ".pgx");
        ASSERT_TRUE(ReadPgx(pgx, &refs[i])) << pgx;
    }
    EXPECT_EQ(c.componentCount == 1 ? 8u : 24u, view.bits);
    if (!c.compare) {
        EXPECT_EQ(refs[0].width * 2 - 1, view.width);
        EXPECT_EQ(refs[0].height * 2, view.height);
        return;
    }
    ASSERT_EQ(refs[0].width, view.width);
    ASSERT_EQ(refs[0].height, view.height);
    if (c.componentCount == 1) {
        CompareChannel(view, 0, refs[0], c.peaks[0], c.mses[0], true);
    } else if (c.componentCount == 3) {
        for (uint32_t ch = 0; ch < 3; ++ch) {
            CompareChannel(view, ch, refs[2 - ch], c.peaks[2 - ch], c.mses[2 - ch], false);
        }
    } else {
        for (uint32_t ch = 0; ch < 3; ++ch) {
            CompareChannel(view, ch, refs[0], c.peaks[0], c.mses[0], false);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Files, CodestreamConformance, testing::ValuesIn(kCodestreams),
                         [](const testing::TestParamInfo<CodestreamCase>& info) { return std::string(info.param.name); });

} // namespace

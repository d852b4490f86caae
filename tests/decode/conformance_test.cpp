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

void PrintTo(const CodestreamCase& c, std::ostream* os)
{
    *os << c.name;
}

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

// 8-bit RGB reference image read from a strip TIFF (uncompressed or LZW,
// optionally with horizontal differencing), as the suite ships them.
struct RgbImage {
    uint32_t width, height;
    std::vector<uint8_t> rgb;
};

uint32_t TiffValue(const std::vector<uint8_t>& d, size_t at, uint32_t type, bool big)
{
    if (type == 3) {
        return big ? (d[at] << 8 | d[at + 1]) : (d[at + 1] << 8 | d[at]);
    }
    return big ? ((uint32_t)d[at] << 24 | d[at + 1] << 16 | d[at + 2] << 8 | d[at + 3])
               : ((uint32_t)d[at + 3] << 24 | d[at + 2] << 16 | d[at + 1] << 8 | d[at]);
}

// TIFF LZW (MSB-first codes, 9 to 12 bits, early change) appended to out.
void DecodeTiffLzw(const uint8_t* in, size_t size, std::vector<uint8_t>* out)
{
    std::vector<std::vector<uint8_t>> table;
    auto reset = [&table]() {
        table.assign(258, {});
        for (int i = 0; i < 256; ++i) {
            table[i] = {(uint8_t)i};
        }
    };
    reset();
    uint32_t bitPos = 0, width = 9;
    int previous = -1;
    while ((bitPos + width) <= size * 8) {
        uint32_t code = 0;
        for (uint32_t b = 0; b < width; ++b, ++bitPos) {
            code = code << 1 | ((in[bitPos / 8] >> (7 - bitPos % 8)) & 1);
        }
        if (code == 257) {
            break;
        }
        if (code == 256) {
            reset();
            width = 9;
            previous = -1;
            continue;
        }
        std::vector<uint8_t> entry;
        if (code < table.size()) {
            entry = table[code];
            if (previous >= 0) {
                std::vector<uint8_t> added = table[previous];
                added.push_back(entry[0]);
                table.push_back(added);
            }
        } else if (previous >= 0) {
            entry = table[previous];
            entry.push_back(entry[0]);
            table.push_back(entry);
        } else {
            break;
        }
        out->insert(out->end(), entry.begin(), entry.end());
        previous = (int)code;
        if (table.size() + 1 >= (1u << width) && width < 12) {
            ++width;
        }
    }
}

bool ReadRgbTiff(const std::string& path, RgbImage* out)
{
    std::vector<uint8_t> d;
    if (!ReadBytes(path, &d) || d.size() < 8) {
        return false;
    }
    bool big = d[0] == 'M';
    size_t ifd = TiffValue(d, 4, 4, big);
    uint32_t count = TiffValue(d, ifd, 3, big);
    uint32_t compression = 1, predictor = 1, rowsPerStrip = 0, strips = 0, samples = 0;
    size_t offsetsAt = 0, countsAt = 0;
    uint32_t offsetsType = 4, countsType = 4;
    for (uint32_t i = 0; i < count; ++i) {
        size_t e = ifd + 2 + 12 * i;
        uint32_t tag = TiffValue(d, e, 3, big), type = TiffValue(d, e + 2, 3, big), n = TiffValue(d, e + 4, 4, big);
        uint32_t value = TiffValue(d, e + 8, type == 3 ? 3 : 4, big);
        switch (tag) {
        case 256: out->width = value; break;
        case 257: out->height = value; break;
        case 259: compression = value; break;
        case 277: samples = value; break;
        case 278: rowsPerStrip = value; break;
        case 317: predictor = value; break;
        case 273: strips = n; offsetsType = type; offsetsAt = n == 1 ? e + 8 : TiffValue(d, e + 8, 4, big); break;
        case 279: countsType = type; countsAt = n == 1 ? e + 8 : TiffValue(d, e + 8, 4, big); break;
        }
    }
    if (samples != 3 || (compression != 1 && compression != 5) || rowsPerStrip == 0) {
        return false;
    }
    size_t stepO = offsetsType == 3 ? 2 : 4, stepC = countsType == 3 ? 2 : 4;
    for (uint32_t s = 0; s < strips; ++s) {
        size_t off = TiffValue(d, offsetsAt + s * stepO, offsetsType, big);
        size_t len = TiffValue(d, countsAt + s * stepC, countsType, big);
        size_t before = out->rgb.size();
        if (compression == 1) {
            out->rgb.insert(out->rgb.end(), d.begin() + off, d.begin() + off + len);
        } else {
            DecodeTiffLzw(d.data() + off, len, &out->rgb);
        }
        size_t rowBytes = (size_t)out->width * 3;
        for (size_t row = before; predictor == 2 && row + rowBytes <= out->rgb.size(); row += rowBytes) {
            for (size_t i = 3; i < rowBytes; ++i) {
                out->rgb[row + i] = (uint8_t)(out->rgb[row + i] + out->rgb[row + i - 3]);
            }
        }
    }
    return out->rgb.size() >= (size_t)out->width * out->height * 3;
}

// JP2 files whose components are already RGB or grey (no palette, ICC
// profile or YCC): the reference TIFF is comparable. `shift` maps the
// TIFF's 8-bit scaling of deeper samples onto the kept most significant byte.
struct Jp2Case {
    const char* name;
    int shift;
};

const Jp2Case kJp2Files[] = {{"file1", 0}, {"file4", 0}, {"file6", 4}};

void PrintTo(const Jp2Case& c, std::ostream* os)
{
    *os << c.name;
}

class Jp2Conformance : public testing::TestWithParam<Jp2Case> {};

TEST_P(Jp2Conformance, MatchesReferenceRgb)
{
    const Jp2Case& c = GetParam();
    std::string number = std::string(c.name).substr(4);
    std::vector<uint8_t> data;
    RgbImage ref = {0, 0, {}};
    if (!ReadBytes(ConformancePath(std::string(c.name) + ".jp2"), &data)) {
        GTEST_SKIP() << "conformance data absent: " << CONFORMANCE_DIR;
    }
    ASSERT_TRUE(ReadRgbTiff(ConformancePath("jp2_" + number + ".tif"), &ref));
    uint8_t* raw = nullptr;
    ASSERT_EQ(1, DecodeToPackedDib(&raw, data.data(), (int32_t)data.size()));
    DibPtr dib(raw);
    DibView view = ViewDib(raw);
    ASSERT_EQ(ref.width, view.width);
    ASSERT_EQ(ref.height, view.height);
    // Peak 4 per channel on the 8-bit reference, i.e. (4 >> shift) + 1 after
    // dropping `shift` more bits.
    int allowed = c.shift == 0 ? 4 : (4 >> c.shift) + 1;
    for (uint32_t ch = 0; ch < 3; ++ch) {
        int worst = 0;
        double squares = 0;
        for (uint32_t y = 0; y < view.height; ++y) {
            for (uint32_t x = 0; x < view.width; ++x) {
                uint32_t rgbChannel = view.bits == 8 ? 0 : 2 - ch;
                int want = ref.rgb[((size_t)y * ref.width + x) * 3 + rgbChannel] >> c.shift;
                int got = view.At(x, y, view.bits == 8 ? 0 : ch);
                int diff = abs(got - want);
                worst = diff > worst ? diff : worst;
                squares += (double)diff * diff;
            }
        }
        EXPECT_LE(worst, allowed) << "channel " << ch;
        EXPECT_LE(squares / ((double)view.width * view.height), 4.0) << "channel " << ch;
    }
}

INSTANTIATE_TEST_SUITE_P(Files, Jp2Conformance, testing::ValuesIn(kJp2Files),
                         [](const testing::TestParamInfo<Jp2Case>& info) { return std::string(info.param.name); });

// The other JP2 files (YCC, palette-free ICC) still decode to a bitmap of
// the reference's size.
TEST(Jp2Conformance, OtherFilesDecodeAtReferenceSize)
{
    for (int i : {2, 3, 5}) {
        std::vector<uint8_t> data;
        RgbImage ref = {0, 0, {}};
        if (!ReadBytes(ConformancePath("file" + std::to_string(i) + ".jp2"), &data)) {
            GTEST_SKIP() << "conformance data absent: " << CONFORMANCE_DIR;
        }
        ASSERT_TRUE(ReadRgbTiff(ConformancePath("jp2_" + std::to_string(i) + ".tif"), &ref));
        uint8_t* raw = nullptr;
        ASSERT_EQ(1, DecodeToPackedDib(&raw, data.data(), (int32_t)data.size())) << i;
        DibPtr dib(raw);
        EXPECT_EQ(ref.width, Le32(raw + 4));
        EXPECT_EQ(ref.height, Le32(raw + 8));
        EXPECT_EQ(24, raw[14]);
    }
}

INSTANTIATE_TEST_SUITE_P(Files, CodestreamConformance, testing::ValuesIn(kCodestreams),
                         [](const testing::TestParamInfo<CodestreamCase>& info) { return std::string(info.param.name); });

} // namespace

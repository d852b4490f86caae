// Conformance codestreams and JP2 files against their reference decodings.
#include "jpeg2000.h"
#include "dib_check.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <memory>
#include <string>
#include <vector>

namespace {

struct Component {
    uint32_t precision;
    bool isSigned;
    uint32_t width, height;
    std::vector<int32_t> samples;
};

bool ReadPgx(const std::string& path, Component* out)
{
    std::vector<uint8_t> bytes;
    if (!ReadFileBytes(path, &bytes)) {
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

// A p-bit sample as the picture shows it: signed ones offset by 2^(p-1),
// deeper ones by their top 8 bits, shallower ones scaled as the grey table.
uint8_t PictureByte(int32_t v, const Component& c)
{
    uint32_t u = ((uint32_t)v + (c.isSigned ? 1u << (c.precision - 1) : 0)) & ((1u << c.precision) - 1);
    if (c.precision > 8) {
        return (uint8_t)(u >> (c.precision - 8));
    }
    return (uint8_t)(u * (255u / ((1u << c.precision) - 1)));
}

// Allowed error on the shown byte for a peak error e on the sample.
int AllowedByteError(int peak, uint32_t precision)
{
    if (peak == 0) {
        return 0;
    }
    if (precision > 8) {
        return (peak + (1 << (precision - 8)) - 1) / (1 << (precision - 8)) + 1;
    }
    return peak * (int)(255u / ((1u << precision) - 1));
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

// One DIB channel against reference component `ref`, each pixel against the
// sample covering it (a subsampled component is compared on its own grid).
void CompareChannel(const DibView& view, uint32_t channel, const Component& ref, int peak, double mse)
{
    int allowed = AllowedByteError(peak, ref.precision);
    double squares = 0;
    int worst = 0;
    for (uint32_t y = 0; y < view.height; ++y) {
        for (uint32_t x = 0; x < view.width; ++x) {
            size_t k = (size_t)(y * ref.height / view.height) * ref.width + x * ref.width / view.width;
            int diff = abs((int)view.At(x, y, channel) - PictureByte(ref.samples[k], ref));
            worst = diff > worst ? diff : worst;
            squares += (double)diff * diff;
        }
    }
    EXPECT_LE(worst, allowed) << "channel " << channel;
    // The mean squared error is defined on the samples; on the shown byte it
    // is only comparable while the byte is the whole sample.
    if (ref.precision == 8) {
        EXPECT_LE(squares / ((double)view.width * view.height), mse) << "channel " << channel;
    }
}

TEST_P(CodestreamConformance, MatchesReferenceComponents)
{
    const CodestreamCase& c = GetParam();
    std::vector<uint8_t> data;
    if (!ReadFileBytes(ConformancePath(std::string(c.name) + ".j2k"), &data)) {
        GTEST_SKIP() << "conformance data absent: " << ConformancePath("");
    }
    DibPtr dib = DecodeDib(data);
    ASSERT_TRUE(dib);
    DibView view = ViewDib(dib.get());
    std::vector<Component> refs(c.referenceCount);
    for (int i = 0; i < c.referenceCount; ++i) {
        std::string pgx = ConformancePath("c1" + std::string(c.name) + "_" + std::to_string(i) + ".pgx");
        ASSERT_TRUE(ReadPgx(pgx, &refs[i])) << pgx;
    }
    // Raw codestreams: one component is grey, more are RGB from the first
    // three (none of these has the subsampled chroma of YCbCr, nor four
    // components of one size).
    EXPECT_EQ(c.componentCount == 1 ? 8u : 24u, view.bits);
    if (!c.compare) {
        EXPECT_EQ(refs[0].width * 2 - 1, view.width);
        EXPECT_EQ(refs[0].height * 2, view.height);
        return;
    }
    ASSERT_EQ(refs[0].width, view.width);
    ASSERT_EQ(refs[0].height, view.height);
    for (uint32_t ch = 0; ch < view.bits / 8; ++ch) {
        uint32_t component = view.bits == 8 ? 0 : 2 - ch;
        CompareChannel(view, ch, refs[component], c.peaks[component], c.mses[component]);
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
        return big ? Be16(&d[at]) : Le16(&d[at]);
    }
    return big ? Be32(&d[at]) : Le32(&d[at]);
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
    if (!ReadFileBytes(path, &d) || d.size() < 8) {
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

// The six JP2 files (sRGB, sYCC, sYCC 4:2:0, grey, a restricted ICC
// profile, 12-bit grey) against the pictures the suite shows for them.
class Jp2Conformance : public testing::TestWithParam<const char*> {};

TEST_P(Jp2Conformance, MatchesReferencePicture)
{
    std::string name = GetParam();
    std::vector<uint8_t> data;
    RgbImage ref = {0, 0, {}};
    if (!ReadFileBytes(ConformancePath(name + ".jp2"), &data)) {
        GTEST_SKIP() << "conformance data absent: " << ConformancePath("");
    }
    ASSERT_TRUE(ReadRgbTiff(ConformancePath("jp2_" + name.substr(4) + ".tif"), &ref));
    DibPtr dib = DecodeDib(data);
    ASSERT_TRUE(dib);
    DibView view = ViewDib(dib.get());
    ASSERT_EQ(ref.width, view.width);
    ASSERT_EQ(ref.height, view.height);
    for (uint32_t ch = 0; ch < 3; ++ch) {
        int worst = 0;
        double squares = 0;
        for (uint32_t y = 0; y < view.height; ++y) {
            for (uint32_t x = 0; x < view.width; ++x) {
                int want = ref.rgb[((size_t)y * ref.width + x) * 3 + 2 - ch];
                int diff = abs(view.At(x, y, view.bits == 8 ? 0 : ch) - want);
                worst = diff > worst ? diff : worst;
                squares += (double)diff * diff;
            }
        }
        EXPECT_LE(worst, 4) << "channel " << ch;
        EXPECT_LE(squares / ((double)view.width * view.height), 4.0) << "channel " << ch;
    }
}

INSTANTIATE_TEST_SUITE_P(Files, Jp2Conformance, testing::Values("file1", "file2", "file3", "file4", "file5", "file6"),
                         [](const testing::TestParamInfo<const char*>& info) { return std::string(info.param); });

INSTANTIATE_TEST_SUITE_P(Files, CodestreamConformance, testing::ValuesIn(kCodestreams),
                         [](const testing::TestParamInfo<CodestreamCase>& info) { return std::string(info.param.name); });

} // namespace

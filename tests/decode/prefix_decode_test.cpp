// Files decoded while they arrive: every cut of a few conformance files, and
// wrapped fixtures, through the prefix measure and the prefix decode.
#include "jpeg2000.h"
#include "dib_check.h"
#include "fixture_encoder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct PrefixCase {
    const char* name;
    int steps;   // cuts spread evenly over the file
    int reduce;
};

// Tiled, several tile-parts, resolution- and layer-progressive, a JP2.
const PrefixCase kPrefixCases[] = {
    {"p0_01.j2k", 97, 0}, {"p0_03.j2k", 97, 0}, {"p0_06.j2k", 97, 1},
    {"p0_10.j2k", 211, 0}, {"p0_04.j2k", 41, 2}, {"file1.jp2", 41, 2},
};

DibPtr DecodePrefix(const std::vector<uint8_t>& data, uint32_t length, int reduce, int* failure)
{
    uint8_t* dib = nullptr;
    int ok = DecodePrefixToPackedDib(&dib, failure, ClassifyFileKind(data.data(), (uint32_t)data.size()),
                                     data.data(), (int32_t)length, reduce, 1);
    EXPECT_EQ(ok != 0, dib != nullptr);
    EXPECT_EQ(ok != 0, *failure == DecodeFailureNone);
    return DibPtr(dib);
}

// The prefix the codec may have of a cut at `cut`, found by another road than
// the product's walk of segment lengths: coded data never holds 0xFF before
// a byte above 0x8F, so past the main header (whose comments may hold any
// byte; it ends at the first SOT, FF90 000A) a byte search finds every
// tile-part (SOT) and the end of its header (SOD). A cut inside a tile-part's
// header falls back to where that tile-part begins; one inside its data is kept.
uint32_t ExpectedPrefix(const std::vector<uint8_t>& data, uint32_t cut)
{
    size_t first = 0;
    while (first + 4 <= data.size() && Be32(data.data() + first) != 0xFF90000A) {
        ++first;
    }
    uint32_t expected = 0;
    size_t tilePart = first;
    for (size_t at = first; at + 2 <= data.size() && at < cut; ++at) {
        uint32_t marker = Be16(data.data() + at);
        if (marker == 0xFF90) {
            tilePart = at;
            expected = expected != 0 ? (uint32_t)tilePart : 0;
        } else if (marker == 0xFF93 && at + 2 < cut) {
            expected = cut;
        } else if (marker == 0xFFD9 && at + 2 <= cut) {
            expected = (uint32_t)at + 2;
        }
    }
    return expected;
}

// Each cut's prefix is the expected one and never shrinks as more arrives;
// each cut decodes to a picture of the final size or is refused as not yet
// decodable; the whole file gives the bitmap of the ordinary decode, and
// some cut gives a picture before the last byte. The measure resumed as the
// bytes come, a few at a time, gives what a fresh one gives at each length.
void CheckEveryCut(const std::vector<uint8_t>& data, int steps, int reduce)
{
    int kind = ClassifyFileKind(data.data(), (uint32_t)data.size());
    PrefixMeasure resumed = {};
    for (uint32_t length = 0; length <= data.size(); length += 7) {
        ASSERT_EQ(MeasureDecodablePrefix(kind, data.data(), length),
                  MeasureDecodablePrefixFrom(&resumed, kind, data.data(), length))
            << "length " << length;
    }
    uint8_t* whole = nullptr;
    int failure = DecodeFailureNone;
    ASSERT_TRUE(DecodeReducedToPackedDib(&whole, &failure, kind, data.data(), (int32_t)data.size(), reduce));
    DibPtr final(whole);
    uint32_t previous = 0;
    uint32_t firstPicture = 0;
    for (int step = 1; step <= steps; ++step) {
        uint32_t cut = (uint32_t)((uint64_t)data.size() * step / steps);
        uint32_t prefix = MeasureDecodablePrefix(kind, data.data(), cut);
        ASSERT_GE(prefix, previous) << "cut " << cut;
        previous = prefix;
        EXPECT_EQ(ExpectedPrefix(data, cut), prefix) << "cut " << cut;
        DibPtr dib = DecodePrefix(data, cut, reduce, &failure);
        if (dib) {
            firstPicture = firstPicture == 0 ? cut : firstPicture;
            EXPECT_EQ(ViewDib(dib.get()).width, ViewDib(final.get()).width);
            EXPECT_EQ(ViewDib(dib.get()).height, ViewDib(final.get()).height);
        } else {
            EXPECT_EQ(DecodeFailureCorrupt, failure) << "cut " << cut;
        }
        if (step == steps) {
            ASSERT_TRUE(dib);
            EXPECT_EQ(HashDib(final.get()), HashDib(dib.get()));
        }
    }
    EXPECT_LT(firstPicture, data.size()) << "no picture before the last byte";
}

class PrefixDecode : public testing::TestWithParam<PrefixCase> {};

TEST_P(PrefixDecode, EveryCutGivesAPictureOrARefusal)
{
    std::vector<uint8_t> data;
    if (!ReadFileBytes(ConformancePath(GetParam().name), &data)) {
        GTEST_SKIP() << "conformance data absent: " << ConformancePath("");
    }
    CheckEveryCut(data, GetParam().steps, GetParam().reduce);
}

INSTANTIATE_TEST_SUITE_P(Conformance, PrefixDecode, testing::ValuesIn(kPrefixCases),
                         [](const testing::TestParamInfo<PrefixCase>& info) {
                             std::string name = info.param.name;
                             return name.substr(0, name.find('.'));
                         });

// The kinds whose codestream sits in a box: the boxes before it must be
// whole, and the codestream inside is cut as a raw one.
TEST(PrefixDecode, BoxedKindsCutLikeTheirCodestream)
{
    FixtureImage image = MakePatternImage(96, 64, {{8, 0, 1, 1}, {8, 0, 1, 1}, {8, 0, 1, 1}});
    image.tiled = 1;
    std::vector<uint8_t> codestream = EncodeFixture(image, "prefix");
    ASSERT_FALSE(codestream.empty());
    std::vector<uint8_t> jpm = WrapJpm(codestream);
    const std::vector<uint8_t> files[] = {
        WrapJp2Family(codestream, image, "jp2 "), WrapJp2Family(codestream, image, "jpx "),
        WrapJp2Family(codestream, image, "jph "), WrapMotion(codestream, 0), jpm,
        ExtendBoxLength(jpm, jpm.size() - codestream.size() - 8)};
    for (const std::vector<uint8_t>& file : files) {
        SCOPED_TRACE(ClassifyFileKind(file.data(), (uint32_t)file.size()));
        CheckEveryCut(file, 61, 0);
    }
}

}  // namespace

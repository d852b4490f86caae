// File kind detection, top-level box walk and codestream offset.
#include "jpeg2000.h"
#include "fixture_encoder.h"
#include "dib_check.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <string>

namespace {

const uint8_t kSig[12] = {0x00, 0x00, 0x00, 0x0C, 0x6A, 0x50, 0x20, 0x20, 0x0D, 0x0A, 0x87, 0x0A};

std::vector<uint8_t> Bytes(std::initializer_list<int> values)
{
    std::vector<uint8_t> out;
    for (int v : values) {
        out.push_back((uint8_t)v);
    }
    return out;
}

int Classify(const std::vector<uint8_t>& data)
{
    return ClassifyFileKind(data.data(), (uint32_t)data.size());
}

std::vector<uint8_t> Payload(size_t n)
{
    return std::vector<uint8_t>(n, 0x33);
}

std::string Comments(const std::vector<uint8_t>& file)
{
    uint8_t* buffer = nullptr;
    uint32_t count = 0;
    EXPECT_EQ(1, ExtractCodestreamComments(&buffer, &count, file.data(), (uint32_t)file.size()));
    std::string text(buffer != nullptr ? (const char*)buffer : "", count);
    free(buffer);
    return text;
}

TEST(Signature, CodestreamNeedsFourBytesJp2NeedsTen)
{
    std::vector<uint8_t> cs = Bytes({0xFF, 0x4F, 0xFF, 0x51});
    EXPECT_EQ(1, HasJpeg2000Signature(cs.data(), 4));
    EXPECT_EQ(0, HasJpeg2000Signature(cs.data(), 3));
    EXPECT_EQ(1, HasJpeg2000Signature(kSig, 10));
    EXPECT_EQ(0, HasJpeg2000Signature(kSig, 9));
    EXPECT_EQ(0, HasJpeg2000Signature(nullptr, 10));
    std::vector<uint8_t> sig(kSig, kSig + 12);
    sig[10] = sig[11] = 0; // bytes 10-11 are not part of the test
    EXPECT_EQ(1, HasJpeg2000Signature(sig.data(), 12));
}

TEST(ClassifyFileKind, RawCodestreamNeedsTenBytesAndSiz)
{
    std::vector<uint8_t> cs = Bytes({0xFF, 0x4F, 0xFF, 0x51, 0, 0, 0, 0, 0});
    EXPECT_EQ(FileKindInvalid, Classify(cs));
    cs.push_back(0);
    EXPECT_EQ(FileKindCodestream, Classify(cs));
    cs[3] = 0x52;
    EXPECT_EQ(FileKindInvalid, Classify(cs));
    EXPECT_EQ(FileKindInvalid, ClassifyFileKind(nullptr, 100));
}

TEST(ClassifyFileKind, MajorBrandDecides)
{
    struct Case {
        const char* brand;
        int kind;
    } cases[] = {{"jp2 ", FileKindJp2}, {"jpx ", FileKindJpx}, {"mj2 ", FileKindMj2}, {"mjp2", FileKindMj2},
                 {"jpm ", FileKindJpm}, {"j3d ", FileKindJ3d}, {"jph ", FileKindJph}, {"mj2x", FileKindInvalid},
                 {"JP2 ", FileKindInvalid}, {"jhc ", FileKindInvalid}};
    for (const Case& c : cases) {
        std::vector<uint8_t> file = MakeFileStart(c.brand);
        AppendBox(&file, "jp2c", Payload(4));
        EXPECT_EQ(c.kind, Classify(file)) << c.brand;
    }
    // The compatibility list is not read: major "jp2 " listing "jpx ".
    std::vector<uint8_t> file(kSig, kSig + 12);
    std::vector<uint8_t> ftyp = Bytes({'j', 'p', '2', ' ', 0, 0, 0, 0, 'j', 'p', 'x', ' '});
    AppendBox(&file, "ftyp", ftyp);
    EXPECT_EQ(FileKindJp2, Classify(file));
}

TEST(ClassifyFileKind, FtypPlacementAndSize)
{
    // No ftyp at all: still JP2.
    std::vector<uint8_t> noFtyp(kSig, kSig + 12);
    AppendBox(&noFtyp, "jp2h", Payload(8));
    EXPECT_EQ(FileKindJp2, Classify(noFtyp));

    // ftyp after another box is found.
    std::vector<uint8_t> late(kSig, kSig + 12);
    AppendBox(&late, "uuid", Payload(20));
    AppendBox(&late, "ftyp", Bytes({'j', 'p', 'x', ' ', 0, 0, 0, 0}));
    EXPECT_EQ(FileKindJpx, Classify(late));

    // Length field 11 is too short; 12 holds a brand.
    std::vector<uint8_t> file(kSig, kSig + 12);
    std::vector<uint8_t> ftyp = Bytes({0, 0, 0, 11, 'f', 't', 'y', 'p', 'j', 'p', 'x', ' ', 0, 0, 0, 0});
    file.insert(file.end(), ftyp.begin(), ftyp.end());
    EXPECT_EQ(FileKindInvalid, Classify(file));
    file[15] = 12;
    EXPECT_EQ(FileKindJpx, Classify(file));

    // Brand field cut off by the end of the data: not read past it.
    std::vector<uint8_t> cut(file.begin(), file.begin() + 12 + 10);
    EXPECT_EQ(FileKindInvalid, Classify(cut));
}

TEST(FindTopLevelBox, WalkRules)
{
    BoxLocation loc = {99, 0, kSig};
    EXPECT_EQ(0, FindTopLevelBox(&loc, 0x6A703263, kSig, 0));
    EXPECT_EQ(99u, loc.length); // untouched when length is 0
    EXPECT_EQ(0, FindTopLevelBox(&loc, 0x6A502020, kSig, 8));
    EXPECT_EQ(nullptr, loc.start); // cleared for short data

    std::vector<uint8_t> file(kSig, kSig + 12);
    AppendBox(&file, "jp2h", Payload(30));
    AppendBox(&file, "jp2c", Payload(5));
    ASSERT_EQ(1, FindTopLevelBox(&loc, 0x6A703263, file.data(), (uint32_t)file.size()));
    EXPECT_EQ(file.data() + 12 + 38, loc.start);
    EXPECT_EQ(13u, loc.length);

    // A bare header that ends exactly at the end of the data is not seen.
    std::vector<uint8_t> bare(kSig, kSig + 12);
    AppendBox(&bare, "jp2c", {});
    EXPECT_EQ(0, FindTopLevelBox(&loc, 0x6A703263, bare.data(), (uint32_t)bare.size()));

    // A box of length 0 is compared, then ends the walk.
    std::vector<uint8_t> zero(kSig, kSig + 12);
    std::vector<uint8_t> zeroBox = Bytes({0, 0, 0, 0, 'x', 'm', 'l', ' ', 1, 2});
    zero.insert(zero.end(), zeroBox.begin(), zeroBox.end());
    AppendBox(&zero, "jp2c", Payload(4));
    EXPECT_EQ(1, FindTopLevelBox(&loc, 0x786D6C20, zero.data(), (uint32_t)zero.size()));
    EXPECT_EQ(0, FindTopLevelBox(&loc, 0x6A703263, zero.data(), (uint32_t)zero.size()));
}

TEST(FindTopLevelBox, HugeLengthEndsInsteadOfWrapping)
{
    // A length that would wrap a 32-bit position back onto the first box
    // must not make the walk revisit it.
    std::vector<uint8_t> file(kSig, kSig + 12);
    std::vector<uint8_t> box = Bytes({0xFF, 0xFF, 0xFF, 0xF4, 'f', 'r', 'e', 'e', 0, 0, 0, 0});
    file.insert(file.end(), box.begin(), box.end());
    BoxLocation loc;
    EXPECT_EQ(0, FindTopLevelBox(&loc, 0x6A703263, file.data(), (uint32_t)file.size()));
}

TEST(FindTopLevelBox, ExtendedLengths)
{
    // A "uuid" box with a 64-bit length (36 bytes at 12), then "jp2c" (at 48):
    // stepped over by that length; a length below its header or past the
    // data ends the walk, as does a 32-bit length field below 8.
    std::vector<uint8_t> file(kSig, kSig + 12);
    AppendBox(&file, "uuid", Payload(20));
    file = ExtendBoxLength(file, 12);
    AppendBox(&file, "jp2c", Payload(4));
    struct Case {
        size_t at;
        uint8_t value;
        size_t start; // of jp2c, 0: not found
    } cases[] = {{0, 0, 48}, {12 + 15, 15, 0}, {12 + 11, 1, 0}, {12 + 3, 4, 0}};
    for (const Case& c : cases) {
        std::vector<uint8_t> edited = file;
        edited[c.at] = c.value;
        BoxLocation loc;
        int found = FindTopLevelBox(&loc, 0x6A703263, edited.data(), (uint32_t)edited.size());
        EXPECT_EQ(c.start, found ? (size_t)(loc.start - edited.data()) : 0) << c.at;
    }

    // The box sought itself: its 64-bit length and 16-byte header, unless
    // the data ends inside that header.
    std::vector<uint8_t> jp2c(kSig, kSig + 12);
    AppendBox(&jp2c, "jp2c", Payload(4));
    jp2c = ExtendBoxLength(jp2c, 12);
    BoxLocation loc;
    ASSERT_EQ(1, FindTopLevelBox(&loc, 0x6A703263, jp2c.data(), (uint32_t)jp2c.size()));
    EXPECT_EQ(jp2c.data() + 12, loc.start);
    EXPECT_EQ(20u, loc.length);
    EXPECT_EQ(16u, loc.headerLength);
    EXPECT_EQ(0, FindTopLevelBox(&loc, 0x6A703263, jp2c.data(), 12 + 15));

    // The brand of an ftyp with a 64-bit length is read past its longer header.
    std::vector<uint8_t> ftyp = ExtendBoxLength(MakeFileStart("jpx "), 12);
    AppendBox(&ftyp, "jp2c", Payload(4));
    EXPECT_EQ(FileKindJpx, Classify(ftyp));
}

TEST(CodestreamOffset, ByContainer)
{
    FixtureImage image = MakePatternImage(8, 8, {{8, 0, 1, 1}});
    std::vector<uint8_t> cs = EncodeFixture(image, nullptr);
    ASSERT_FALSE(cs.empty());
    EXPECT_EQ(0u, CodestreamOffset(cs.data(), (uint32_t)cs.size()));

    std::vector<uint8_t> jp2 = WrapJp2Family(cs, image, "jp2 ");
    EXPECT_EQ(jp2.size() - cs.size(), CodestreamOffset(jp2.data(), (uint32_t)jp2.size()));

    // The jp2c box at the start of mdat is found past either header.
    for (int extended : {0, 1}) {
        std::vector<uint8_t> mj2 = WrapMotion(cs, extended);
        EXPECT_EQ(mj2.size() - cs.size(), CodestreamOffset(mj2.data(), (uint32_t)mj2.size())) << extended;
    }

    // A codestream box with a 64-bit length: the codestream starts past its
    // 16-byte header, and the file gives the same bitmap, comments and prefix.
    std::vector<uint8_t> withComment = EncodeFixture(image, "long box");
    for (const std::vector<uint8_t>& file : {WrapJp2Family(withComment, image, "jp2 "), WrapJpm(withComment)}) {
        std::vector<uint8_t> longBox = ExtendBoxLength(file, file.size() - withComment.size() - 8);
        uint32_t size = (uint32_t)longBox.size();
        int kind = ClassifyFileKind(longBox.data(), size);
        SCOPED_TRACE(kind);
        EXPECT_EQ(size - withComment.size(), CodestreamOffset(longBox.data(), size));
        DibPtr ordinary = DecodeDib(file);
        DibPtr dib = DecodeDib(longBox);
        ASSERT_TRUE(ordinary && dib);
        EXPECT_EQ(HashDib(ordinary.get()), HashDib(dib.get()));
        EXPECT_EQ(Comments(file), Comments(longBox));
        EXPECT_EQ(size, MeasureDecodablePrefix(kind, longBox.data(), size));
    }

    // Codestream only inside a superbox other than mdat: not found.
    std::vector<uint8_t> nested = MakeFileStart("jpm ");
    std::vector<uint8_t> inner;
    AppendBox(&inner, "jp2c", cs);
    AppendBox(&nested, "page", inner);
    EXPECT_EQ(0u, CodestreamOffset(nested.data(), (uint32_t)nested.size()));

    EXPECT_EQ(0u, CodestreamOffset(nullptr, 100));
}

} // namespace

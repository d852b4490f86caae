// Main-header comment collection, including segments that run past the data.
#include "jpeg2000.h"
#include "fixture_encoder.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <string>

namespace {

struct Comments {
    int ok;
    int hasBuffer;
    std::string bytes;
};

Comments Extract(const std::vector<uint8_t>& data)
{
    uint8_t* buffer = reinterpret_cast<uint8_t*>(1);
    uint32_t count = 77;
    Comments result;
    result.ok = ExtractCodestreamComments(&buffer, &count, data.data(), (uint32_t)data.size());
    result.hasBuffer = buffer != nullptr;
    if (buffer != nullptr) {
        result.bytes.assign((const char*)buffer, count);
        EXPECT_EQ(0, buffer[count]); // zero-terminated
        free(buffer);
    } else {
        EXPECT_EQ(0u, count);
    }
    return result;
}

std::vector<uint8_t> PlainCodestream()
{
    FixtureImage image = MakePatternImage(16, 16, {{8, 0, 1, 1}});
    image.tiled = 1;
    return RemoveMainHeaderComments(EncodeFixture(image, nullptr));
}

TEST(ExtractCodestreamComments, GathersMainHeaderSegmentsInOrder)
{
    std::vector<uint8_t> cs = PlainCodestream();
    Comments none = Extract(cs);
    EXPECT_EQ(1, none.ok);
    EXPECT_EQ(0, none.hasBuffer);

    std::vector<uint8_t> two = InsertMainHeaderComment(InsertMainHeaderComment(cs, 1, "AB"), 0, "CD");
    Comments both = Extract(two);
    EXPECT_EQ(1, both.ok);
    EXPECT_EQ("ABCD", both.bytes); // raw (registration 0) gathered like text

    Comments empty = Extract(InsertMainHeaderComment(cs, 1, ""));
    EXPECT_EQ(1, empty.ok);
    EXPECT_EQ(1, empty.hasBuffer); // non-null buffer with an empty text
    EXPECT_EQ("", empty.bytes);

    Comments tilePart = Extract(InsertTilePartComment(InsertMainHeaderComment(cs, 1, "main"), "tile"));
    EXPECT_EQ("main", tilePart.bytes);

    // OpenJPEG itself accepts a tile-part comment, and so does the decoder.
    uint8_t* dib = nullptr;
    std::vector<uint8_t> withTileComment = InsertTilePartComment(cs, "tile");
    EXPECT_EQ(1, DecodeToPackedDib(&dib, withTileComment.data(), (int32_t)withTileComment.size()));
    free(dib);
}

TEST(ExtractCodestreamComments, SameBufferInEveryContainer)
{
    FixtureImage image = MakePatternImage(8, 8, {{8, 0, 1, 1}});
    std::vector<uint8_t> cs = EncodeFixture(image, "made here");
    std::string expected = Extract(cs).bytes;
    EXPECT_NE(std::string::npos, expected.find("made here"));
    EXPECT_EQ(expected, Extract(WrapJp2Family(cs, image, "jp2 ")).bytes);
    EXPECT_EQ(expected, Extract(WrapJp2Family(cs, image, "j3d ")).bytes); // walked though not decoded
    EXPECT_EQ(expected, Extract(WrapJp2Family(cs, image, "jph ")).bytes);
    EXPECT_EQ(expected, Extract(WrapMotion(cs, 1)).bytes);
    EXPECT_EQ(expected, Extract(WrapMotion(cs, 0)).bytes);
}

TEST(ExtractCodestreamComments, SegmentsPastTheEndEndTheWalk)
{
    std::vector<uint8_t> cs = InsertMainHeaderComment(PlainCodestream(), 1, "first");
    size_t second = cs.size();
    // Main header of: SOC, SIZ..., COM "first", then a COM we damage below.
    std::vector<uint8_t> body = InsertMainHeaderComment(cs, 1, "second");
    // Locate the second COM: the last FF 64 before the first SOT.
    for (size_t i = 2; i + 1 < body.size(); ++i) {
        if (body[i] == 0xFF && body[i + 1] == 0x64) {
            second = i;
        }
        if (body[i] == 0xFF && body[i + 1] == 0x90) {
            break;
        }
    }
    ASSERT_LT(second, body.size());

    // Payload past the end: cut inside "second".
    std::vector<uint8_t> cut(body.begin(), body.begin() + second + 8);
    Comments a = Extract(cut);
    EXPECT_EQ(1, a.ok);
    EXPECT_EQ("first", a.bytes);

    // Length field past the end: only the marker is there.
    std::vector<uint8_t> marker(body.begin(), body.begin() + second + 3);
    EXPECT_EQ("first", Extract(marker).bytes);

    // Lcom below 4 would make a negative count.
    std::vector<uint8_t> shortCom = body;
    shortCom[second + 2] = 0;
    shortCom[second + 3] = 3;
    EXPECT_EQ("first", Extract(shortCom).bytes);

    // A non-marker byte where a marker is due ends the walk too.
    std::vector<uint8_t> junk = body;
    junk[second] = 0x00;
    EXPECT_EQ("first", Extract(junk).bytes);
}

TEST(ExtractCodestreamComments, Failures)
{
    uint8_t* buffer = nullptr;
    uint32_t count = 0;
    std::vector<uint8_t> cs = PlainCodestream();
    EXPECT_EQ(0, ExtractCodestreamComments(nullptr, &count, cs.data(), (uint32_t)cs.size()));
    EXPECT_EQ(0, ExtractCodestreamComments(&buffer, nullptr, cs.data(), (uint32_t)cs.size()));
    EXPECT_EQ(0, Extract(std::vector<uint8_t>(20, 0x41)).ok);
    EXPECT_EQ(0, Extract(MakeFileStart("xxxx")).ok);
    EXPECT_EQ(0, ExtractCodestreamComments(&buffer, &count, nullptr, 10));
}

} // namespace

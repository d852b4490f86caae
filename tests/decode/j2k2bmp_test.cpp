// The j2k2bmp tool as a user runs it: output file, info, comments, refusals.
#include "composition.h"
#include "jpeg2000.h"
#include "fixture_encoder.h"
#include "test_files.h"

#include <gtest/gtest.h>
#include <lcms2.h>
#include <openjpeg.h>

#include <stdio.h>
#include <stdlib.h>
#include <algorithm>
#include <string>
#include <sys/wait.h>

namespace {

std::string Scratch(const std::string& name)
{
    return std::string(TEST_SCRATCH_DIR) + "/j2k2bmp_" + name;
}

struct ToolRun {
    int status;
    std::string out;
    std::string err;
};

ToolRun RunTool(const std::string& args)
{
    // Per test: ctest runs the tests of this file side by side.
    std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::string outPath = Scratch(test + "_stdout.txt");
    std::string errPath = Scratch(test + "_stderr.txt");
    std::string command = std::string(J2K2BMP_PATH) + " " + args + " >" + outPath + " 2>" + errPath;
    int raw = system(command.c_str());
    ToolRun run = {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, FileText(outPath), FileText(errPath)};
    return run;
}

FixtureImage SmallRgb()
{
    return MakePatternImage(21, 13, {{8, 0, 1, 1}, {8, 0, 1, 1}, {8, 0, 1, 1}});
}

TEST(J2k2bmp, WritesTheBitmapFileTheDecoderProduces)
{
    FixtureImage image = SmallRgb();
    std::vector<uint8_t> jp2 = WrapJp2Family(EncodeFixture(image, "tool test"), image, "jp2 ");
    std::string input = Scratch("in.jp2");
    std::string output = Scratch("out.bmp");
    WriteFileBytes(input, jp2);
    remove(output.c_str());
    ToolRun run = RunTool(input + " " + output);
    ASSERT_EQ(0, run.status) << run.err;
    EXPECT_EQ("", run.err);

    uint8_t* dib = nullptr;
    ASSERT_EQ(1, DecodeToPackedDib(&dib, jp2.data(), (int32_t)jp2.size()));
    std::vector<uint8_t> expected = BitmapFileOf(dib);
    free(dib);
    EXPECT_EQ(expected, FileBytes(output));
    EXPECT_FALSE(FileExists(output + ".partial"));

    ToolRun info = RunTool("--info " + input);
    EXPECT_EQ(0, info.status);
    EXPECT_EQ("file kind: 1 (JP2)\nwidth: 21\nheight: 13\nbits per pixel: 24\ncomment bytes: 9\n", info.out);

    ToolRun comments = RunTool("--comments " + input);
    EXPECT_EQ(0, comments.status);
    EXPECT_EQ("tool test", comments.out);
}

TEST(J2k2bmp, ConvertsAPicturePastTheCapAtTheScaleItReports)
{
    FixtureImage image = MakePatternImage(64, 48, {{8, 0, 1, 1}});
    std::string input = Scratch("capped.j2k");
    std::string output = Scratch("capped.bmp");
    WriteFileBytes(input, EncodeFixture(image, nullptr));
    struct Case {
        const char* limit;
        int status;
        const char* out;
        uint32_t width;
    } cases[] = {
        {"3072", 0, "", 64},
        {"3071", 0, "scale: 1/2 (32x24 shown of 64x48)\n", 32},
        {"200", 0, "scale: 1/4 (16x12 shown of 64x48)\n", 16},
        {"0", 2, "", 0},
        {"-5", 2, "", 0},
        {"12x", 2, "", 0},
    };
    for (const Case& c : cases) {
        remove(output.c_str());
        ToolRun run = RunTool(std::string("--max-samples ") + c.limit + " " + input + " " + output);
        EXPECT_EQ(c.status, run.status) << c.limit << run.err;
        EXPECT_EQ(c.out, run.out) << c.limit;
        std::vector<uint8_t> bitmap = FileBytes(output);
        EXPECT_EQ(c.width, bitmap.size() < 26 ? 0u : Le16(&bitmap[18]))
            << c.limit;
    }
    ToolRun info = RunTool("--max-samples 3071 --info " + input);
    EXPECT_EQ(0u, info.out.find("scale: 1/2 (32x24 shown of 64x48)\nfile kind: 0 (JPEG 2000 codestream)\n"
                                "width: 32\nheight: 24\n"))
        << info.out;
    EXPECT_NE(std::string::npos, RunTool("").err.find("default 134217728"));
}

// A page or frame of a composed file: the bitmap ComposePictureToPackedDib
// gives, and --info counts the pages or frames.
TEST(J2k2bmp, WritesTheComposedPageOrFrameAsked)
{
    FixtureImage image = SmallRgb();
    std::vector<uint8_t> cs = EncodeFixture(image, nullptr);
    JpmPage page = {30, 20, 1, {{2, 3, 21, 13, {{1, cs, 0, 0, 1, 0, 0}}}}};
    std::vector<uint8_t> jpm = MakeJpm({page, page, page});
    std::vector<uint8_t> mj2 = MakeMj2({cs, cs}, {2, 4}, 100, 21, 13);
    struct Case {
        const char* name;
        const std::vector<uint8_t>* file;
        const char* option;
        uint32_t index;
        const char* info;
    } cases[] = {
        {"doc.jpm", &jpm, "--page", 2, "pages: 3\ncomposed size: 30x20\n"},
        {"clip.mj2", &mj2, "--frame", 1, "frames: 2\ncomposed size: 21x13\nduration: 40 ms\nloops: 1\n"},
    };
    for (const Case& c : cases) {
        std::string input = Scratch(c.name);
        std::string output = Scratch(std::string(c.name) + ".bmp");
        WriteFileBytes(input, *c.file);
        std::string index = std::string(c.option) + " " + std::to_string(c.index) + " ";
        ToolRun run = RunTool(index + input + " " + output);
        ASSERT_EQ(0, run.status) << run.err;
        uint8_t* dib = nullptr;
        int kind = ClassifyFileKind(c.file->data(), (uint32_t)c.file->size());
        ASSERT_TRUE(ComposePictureToPackedDib(&dib, nullptr, nullptr, kind, c.file->data(), (int32_t)c.file->size(),
                                              c.index, 0, 0));
        EXPECT_EQ(BitmapFileOf(dib), FileBytes(output)) << c.name;
        free(dib);
        ToolRun info = RunTool(index + "--info " + input);
        EXPECT_NE(std::string::npos, info.out.find(c.info)) << info.out;
        ToolRun past = RunTool(std::string(c.option) + " 7 " + input + " " + output);
        EXPECT_EQ(1, past.status);
        EXPECT_NE(std::string::npos, past.err.find("no such page or frame")) << past.err;
    }
}

// The versions it names are those this test links (the same static codec)
// and no older than the releases carrying the decoder fixes we rely on.
TEST(J2k2bmp, NamesTheCodecVersionsItLinks)
{
    ToolRun run = RunTool("--version");
    int lcms = cmsGetEncodedCMMversion();
    std::string lcmsText = std::to_string(lcms / 1000) + "." + std::to_string(lcms % 1000 / 10);
    EXPECT_EQ(0, run.status);
    EXPECT_EQ(0u, run.out.find(std::string("OpenJPEG ") + opj_version() + "\nLittleCMS " + lcmsText)) << run.out;
    int major = 0, minor = 0, patch = 0;
    sscanf(opj_version(), "%d.%d.%d", &major, &minor, &patch);
    EXPECT_GE(major * 10000 + minor * 100 + patch, 20503) << opj_version();
    EXPECT_GE(lcms, 2160);
}

TEST(J2k2bmp, RefusesBadInputWithOneLineAndNoOutput)
{
    FixtureImage image = SmallRgb();
    std::vector<uint8_t> cs = EncodeFixture(image, nullptr);
    std::vector<uint8_t> huge = cs;
    const size_t fields[] = {8, 12, 24, 28};
    for (size_t f : fields) {
        huge[f] = 0x00, huge[f + 1] = 0x01, huge[f + 2] = 0x86, huge[f + 3] = 0xA0; // 100000
    }
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        const char* message;
    } cases[] = {
        {"text.jp2", std::vector<uint8_t>(100, 'x'), "not a JPEG 2000 file"},
        {"empty.jp2", {}, "not a JPEG 2000 file"},
        {"volume.jp2", WrapJp2Family(cs, image, "j3d "), "does not show (3-D)"},
        {"cut.j2k", std::vector<uint8_t>(cs.begin(), cs.begin() + cs.size() / 3), "damaged or truncated"},
        {"huge.j2k", huge, "too large for this plug-in"},
        {"missing.j2k", {}, "file not found"},
    };
    for (const Case& c : cases) {
        std::string input = Scratch(c.name);
        std::string output = Scratch("refused.bmp");
        remove(input.c_str());
        remove(output.c_str());
        if (std::string(c.name) != "missing.j2k") {
            WriteFileBytes(input, c.bytes);
        }
        ToolRun run = RunTool(input + " " + output);
        EXPECT_EQ(1, run.status) << c.name;
        EXPECT_NE(std::string::npos, run.err.find(input)) << run.err;
        EXPECT_NE(std::string::npos, run.err.find(c.message)) << run.err;
        EXPECT_EQ(1, std::count(run.err.begin(), run.err.end(), '\n')) << run.err;
        EXPECT_FALSE(FileExists(output)) << c.name;
        EXPECT_FALSE(FileExists(output + ".partial")) << c.name;
    }
    EXPECT_EQ(1, RunTool("--info " + Scratch("missing.j2k")).status);
}

} // namespace

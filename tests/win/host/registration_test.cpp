// The built npkavrel.dll as a browser sees it before loading: the version
// resource read back through the version API, entry by entry.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

namespace {

class Registration : public ::testing::Test {
protected:
    void SetUp() override {
        DWORD handle = 0;
        DWORD size = GetFileVersionInfoSizeA("npkavrel.dll", &handle);
        ASSERT_GT(size, 0u) << "no version resource in npkavrel.dll";
        block.resize(size);
        ASSERT_TRUE(GetFileVersionInfoA("npkavrel.dll", 0, size, &block[0]));
    }

    // The text of one string-table entry of 0409/1252, or "<missing>".
    std::string Entry(const char* name) {
        std::string path = std::string("\\StringFileInfo\\040904E4\\") + name;
        char* value = nullptr;
        UINT length = 0;
        if (!VerQueryValueA(&block[0], path.c_str(), reinterpret_cast<void**>(&value), &length) || value == nullptr) {
            return "<missing>";
        }
        return std::string(value);
    }

    std::string block;
};

TEST_F(Registration, BrowserRegistrationEntriesAreExact) {
    EXPECT_EQ(Entry("MIMEType"),
              "image/jp2|image/jpx|video/mj2|image/jpm|image/x-j3d|image/x-jpeg2000|image/x-j2k|image/x-jpc|"
              "image/x-j2c|video/x-mjc|image/jph|image/jphc");
    EXPECT_EQ(Entry("FileExtents"), "jp2|jpx|mj2|jpm|j3d|j2k|j2k|jpc|j2c|mjc|jph|jhc");
    EXPECT_EQ(Entry("FileOpenName"),
              "JPEG 2000 JP2 (*.jp2)|JPEG 2000 JPX (*.jpx)|Motion JPEG 2000  (*.mj2)|JPEG 2000 JPM (*.jpm)|"
              "JPEG 2000 J3D (*.j3d)|JPEG 2000 (*.j2k)|JPEG 2000 (*.j2k)|JPEG 2000 Code Stream (*.jpc)|"
              "JPEG 2000 Code Stream (*.j2c)|Motion JPEG 2000 CodeStream (*.mjc)|JPEG 2000 JPH (*.jph)|"
              "High-Throughput JPEG 2000 Code Stream (*.jhc)");
}

// Browsers pair the three lists by position: they must have equally many items.
TEST_F(Registration, ListsHaveTwelveItemsEach) {
    for (const char* name : {"MIMEType", "FileExtents", "FileOpenName"}) {
        std::string value = Entry(name);
        int items = 1;
        for (char c : value) {
            items += c == '|';
        }
        EXPECT_EQ(items, 12) << name;
    }
}

TEST_F(Registration, NamesAndVersions) {
    EXPECT_EQ(Entry("InternalName"), "npkavrel");
    EXPECT_EQ(Entry("OriginalFilename"), "npkavrel.dll");
    EXPECT_EQ(Entry("FileVersion"), "2, 9, 5, 0");
    EXPECT_EQ(Entry("ProductVersion"), "2, 9, 5, 0");
    EXPECT_NE(Entry("FileDescription"), "<missing>");
    EXPECT_NE(Entry("ProductName"), "<missing>");

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(&block[0], "\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00020009u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00050000u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00020009u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0x00050000u);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));
}

TEST_F(Registration, TranslationIsUsEnglishWindowsLatin1) {
    WORD* translation = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(&block[0], "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                               &length));
    ASSERT_EQ(length, 4u);
    EXPECT_EQ(translation[0], 0x0409);
    EXPECT_EQ(translation[1], 1252);
}

}  // namespace

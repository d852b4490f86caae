// Module start-up against this test program's own copy of the resources:
// every cursor and icon loads, with the hot spots and image sizes the
// browser and dialogs rely on.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "host/host_internal.h"
#include "resource_ids.h"
#include "test_files.h"
#include "window/about_dialog.h"

namespace {

struct CursorShape {
    DWORD hotX;
    DWORD hotY;
    LONG width;
    LONG maskHeight;
    WORD bitsPerPixel;
    int hasColor;
};

// Reads back what Windows made of a cursor or icon; frees what GetIconInfo
// hands out.
CursorShape ReadShape(HICON icon) {
    CursorShape shape = {};
    ICONINFO info = {};
    if (!GetIconInfo(icon, &info)) {
        return shape;
    }
    BITMAP mask = {};
    GetObjectA(info.hbmMask, sizeof(mask), &mask);
    shape.hotX = info.xHotspot;
    shape.hotY = info.yHotspot;
    shape.width = mask.bmWidth;
    shape.maskHeight = mask.bmHeight;
    shape.bitsPerPixel = mask.bmBitsPixel;
    shape.hasColor = info.hbmColor != nullptr;
    DeleteObject(info.hbmMask);
    if (info.hbmColor != nullptr) {
        DeleteObject(info.hbmColor);
    }
    return shape;
}

class ResourceLoad : public ::testing::Test {
protected:
    static void SetUpTestSuite() { InitializeModule(GetModuleHandleA(nullptr)); }
};

TEST_F(ResourceLoad, LinkCursorsAreMonochromeHandsWithTheirHotSpots) {
    ASSERT_NE(LinkCursorMicrosoft, nullptr);
    ASSERT_NE(LinkCursorOther, nullptr);
    CursorShape microsoft = ReadShape(LinkCursorMicrosoft);
    CursorShape other = ReadShape(LinkCursorOther);
    EXPECT_EQ(microsoft.hotX, 6u);
    EXPECT_EQ(microsoft.hotY, 1u);
    EXPECT_EQ(other.hotX, 5u);
    EXPECT_EQ(other.hotY, 0u);
    // A monochrome cursor is one mask bitmap of twice the height (AND over XOR).
    for (const CursorShape& shape : {microsoft, other}) {
        EXPECT_EQ(shape.width, 32);
        EXPECT_EQ(shape.maskHeight, 64);
        EXPECT_EQ(shape.hasColor, 0);
    }
}

TEST_F(ResourceLoad, EveryIconHandleIsLoadedAndDistinct) {
    HICON icons[5] = {AboutIconFrames[0], AboutIconFrames[1], AboutIconFrames[2], AboutIconFrames[3], CommentsIcon};
    for (int i = 0; i < 5; i++) {
        ASSERT_NE(icons[i], nullptr) << "icon " << i;
        for (int j = 0; j < i; j++) {
            EXPECT_NE(icons[i], icons[j]);
        }
    }
    EXPECT_EQ(AboutFrameIndex, 0);
    EXPECT_EQ(ModuleHandle, GetModuleHandleA(nullptr));
}

// Each group must carry every size at every depth: Windows picks the image
// closest to the display's size and depth, and a missing one is scaled.
// Read from this program's resources: the group directory and each image's
// own header.
TEST_F(ResourceLoad, IconGroupsCarryEverySizeAndDepth) {
    struct Expected {
        int id;
        const char* images;  // "size/bpp ..." in directory order
    };
    const char* aboutFrame = "48/8 48/32 32/4 32/8 32/32 16/4 16/8 16/32 ";
    const Expected groups[] = {
        {IDI_ABOUT_FRAME_1, aboutFrame}, {IDI_ABOUT_FRAME_2, aboutFrame}, {IDI_ABOUT_FRAME_3, aboutFrame},
        {IDI_ABOUT_FRAME_4, aboutFrame}, {IDI_COMMENTS, "32/4 32/8 16/4 16/8 "},
    };
    for (const Expected& group : groups) {
        HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(group.id), MAKEINTRESOURCEA(14) /* RT_GROUP_ICON */);
        ASSERT_NE(found, nullptr) << group.id;
        const BYTE* directory = static_cast<const BYTE*>(LockResource(LoadResource(nullptr, found)));
        int count = (int)Le16(directory + 4);
        std::string listed;
        for (int i = 0; i < count; i++) {
            const BYTE* entry = directory + 6 + 14 * i;
            int width = entry[0] == 0 ? 256 : entry[0];
            int bitCount = (int)Le16(entry + 6);
            int imageId = (int)Le16(entry + 12);
            listed += std::to_string(width) + "/" + std::to_string(bitCount) + " ";
            HRSRC image = FindResourceA(nullptr, MAKEINTRESOURCEA(imageId), MAKEINTRESOURCEA(3) /* RT_ICON */);
            ASSERT_NE(image, nullptr) << group.id;
            auto* header = static_cast<const BITMAPINFOHEADER*>(LockResource(LoadResource(nullptr, image)));
            EXPECT_EQ(header->biWidth, width) << group.id;
            EXPECT_EQ(header->biHeight, 2 * width) << group.id;  // colour rows plus mask rows
            EXPECT_EQ(header->biBitCount, bitCount) << group.id;
        }
        EXPECT_EQ(listed, group.images) << group.id;
    }
}

}  // namespace

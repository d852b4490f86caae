// Module start-up against this test program's own copy of the resources:
// every cursor and icon loads, with the hot spots and image sizes the
// browser and dialogs rely on.
#include <gtest/gtest.h>
#include <windows.h>

#include "host/plugin.h"
#include "resource_ids.h"

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

// Each size of each group must be present: LoadImage picks the exact size
// only when the group carries it.
TEST_F(ResourceLoad, IconGroupsCarryEverySize) {
    struct Expected {
        int id;
        int sizes[3];
    };
    const Expected groups[] = {
        {IDI_ABOUT_FRAME_1, {48, 32, 16}}, {IDI_ABOUT_FRAME_2, {48, 32, 16}}, {IDI_ABOUT_FRAME_3, {48, 32, 16}},
        {IDI_ABOUT_FRAME_4, {48, 32, 16}}, {IDI_COMMENTS, {32, 16, 0}},
    };
    for (const Expected& group : groups) {
        HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(group.id), MAKEINTRESOURCEA(14) /* RT_GROUP_ICON */);
        ASSERT_NE(found, nullptr) << group.id;
        auto* bits = static_cast<BYTE*>(LockResource(LoadResource(nullptr, found)));
        for (int size : group.sizes) {
            if (size == 0) {
                continue;
            }
            int id = LookupIconIdFromDirectoryEx(bits, TRUE, size, size, LR_DEFAULTCOLOR);
            ASSERT_NE(id, 0) << group.id << " at " << size;
            HRSRC image = FindResourceA(nullptr, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(3) /* RT_ICON */);
            ASSERT_NE(image, nullptr);
            auto* header = static_cast<BITMAPINFOHEADER*>(LockResource(LoadResource(nullptr, image)));
            EXPECT_EQ(header->biWidth, size) << group.id;
        }
    }
}

}  // namespace

// Playback of an animation in an element: frames come in the file's order
// and loop as the file says, a click or Space pauses, a paused element does
// not advance and Left/Right step it, the frame painted and the one a
// command takes are the one the record says is shown, and the ticks stop
// for an element hidden, destroyed or given another file. Counted in
// frames, not timed.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "commands/commands.h"
#include "display_support.h"
#include "window/display.h"

namespace {

// make_fixtures' flat grey frames: frame i at 20 + 40 i.
uint32_t FrameLevel(uint32_t frame) { return 20 + 40 * frame; }

struct Sampled {
    std::vector<uint32_t> frames;  // each frame shown, in order, repeats dropped
    uint32_t shown;
    int playing;
};

// Serves messages for `ms`, noting each frame the record shows.
Sampled Watch(Element* element, DWORD ms) {
    Sampled sampled = {{}, 0, 0};
    PluginInstance* record = RecordOf(element);
    for (DWORD start = GetTickCount(); GetTickCount() - start < ms;) {
        PumpMessages();
        uint32_t frame = record->sequence.index;
        if (!record->sequence.awaiting && (sampled.frames.empty() || sampled.frames.back() != frame)) {
            sampled.frames.push_back(frame);
        }
        Sleep(2);
    }
    sampled.shown = record->sequence.framesShown;
    sampled.playing = record->sequence.playing;
    return sampled;
}

// The centre pixel's grey, once every paint is done.
uint32_t PaintedLevel(Element* element) {
    Capture capture = RepaintAndCapture(element->window);
    return capture.At(capture.width / 2, capture.height / 3) & 0xFF;
}

// The centre pixel's grey of a bitmap handed to a command.
uint32_t CentreLevel(const ImageView& view) {
    const BITMAPINFOHEADER& header = view.info->bmiHeader;
    uint32_t stride = (view.bitmapWidth * header.biBitCount + 31) / 32 * 4;
    const uint8_t* pixel = (const uint8_t*)view.bits + (view.bitmapHeight / 2) * stride +
                           (view.bitmapWidth / 2) * (header.biBitCount / 8);
    return header.biBitCount == 8 ? view.info->bmiColors[*pixel].rgbRed : pixel[2];
}

// Whether the playback timer still fires at the window within 100 ms (other
// timers' messages are served meanwhile).
bool PlaybackTimerFires(HWND window) {
    for (DWORD start = GetTickCount(); GetTickCount() - start < 100; Sleep(5)) {
        MSG message;
        while (PeekMessageA(&message, window, WM_TIMER, WM_TIMER, PM_REMOVE)) {
            if (message.wParam == PlaybackTimerId) {
                return true;
            }
            DispatchMessageA(&message);
        }
    }
    return false;
}

struct PlaybackRow {
    const char* fixture;
    uint32_t frames;
    bool loops;
};

const PlaybackRow PlaybackRows[] = {
    {"clip.mj2", 6, false},
    {"loop.jpx", 3, true},
};

TEST(Playback, FramesFollowTheFileOrderAndLoopAsTheFileSays) {
    for (const PlaybackRow& row : PlaybackRows) {
        SCOPED_TRACE(row.fixture);
        // Watched from the stream's end: a wait for the decodes to settle
        // could outlast the whole clip.
        Element element;
        CreateElement(&element, 64, 48, NP_EMBED, {});
        SendFile(&element, row.fixture);
        Sampled sampled = Watch(&element, 3000);
        ASSERT_GE(sampled.frames.size(), 3u);
        int wraps = 0;
        for (size_t i = 1; i < sampled.frames.size(); ++i) {
            uint32_t before = sampled.frames[i - 1], after = sampled.frames[i];
            // Later frames only, a dropped one skipped; back to the first at a loop.
            EXPECT_TRUE(after > before || (row.loops && after < before)) << before << " then " << after;
            wraps += after < before;
        }
        EXPECT_GE(sampled.shown, 2u);
        if (row.loops) {
            EXPECT_GE(wraps, 1);
            EXPECT_EQ(sampled.playing, 1);
        } else {
            EXPECT_EQ(sampled.frames.back(), row.frames - 1);
            EXPECT_EQ(sampled.playing, 0);
        }
        DestroyElement(&element);
    }
}

TEST(Playback, APausedAnimationStaysAndArrowsStepIt) {
    Element element;
    ASSERT_TRUE(ShowFixture(&element, 64, 48, NP_EMBED, "loop.jpx"));
    PluginInstance* record = RecordOf(&element);
    SendMessageA(element.window, WM_KEYDOWN, VK_SPACE, 0);
    Watch(&element, 200);
    Sampled paused = Watch(&element, 600);
    ASSERT_EQ(paused.playing, 0);
    EXPECT_EQ(paused.frames.size(), 1u);
    EXPECT_EQ(Watch(&element, 100).shown, paused.shown);
    uint32_t frame = paused.frames[0];
    EXPECT_EQ(PaintedLevel(&element), FrameLevel(frame));
    struct Step {
        UINT key;
        uint32_t frame;
    } steps[] = {{VK_RIGHT, (frame + 1) % 3}, {VK_RIGHT, (frame + 2) % 3}, {VK_LEFT, (frame + 1) % 3}};
    for (const Step& step : steps) {
        SendMessageA(element.window, WM_KEYDOWN, step.key, 0);
        Sampled stepped = Watch(&element, 400);
        EXPECT_EQ(stepped.frames.back(), step.frame);
        EXPECT_EQ(PaintedLevel(&element), FrameLevel(step.frame));
    }
    SendMessageA(element.window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(10, 10));
    SendMessageA(element.window, WM_LBUTTONUP, 0, MAKELPARAM(10, 10));
    EXPECT_GT(Watch(&element, 600).frames.size(), 1u);
    EXPECT_EQ(record->sequence.playing, 1);
    DestroyElement(&element);
}

// A command is given the frame shown, decoded whole (the element shows a
// coarser level of it).
TEST(Playback, ACommandTakesTheFrameShown) {
    Element element;
    ASSERT_TRUE(ShowFixture(&element, 32, 24, NP_EMBED, "loop.jpx"));
    PluginInstance* record = RecordOf(&element);
    SendMessageA(element.window, WM_KEYDOWN, VK_SPACE, 0);
    // Past the first frame, which a command would take by mistake too.
    uint32_t frame = 0;
    for (int step = 0; step < 2 && frame == 0; ++step) {
        SendMessageA(element.window, WM_KEYDOWN, VK_RIGHT, 0);
        frame = Watch(&element, 400).frames.back();
    }
    ASSERT_NE(0u, frame);
    FullPicture full;
    int failure = 0;
    ASSERT_TRUE(AcquireFullPicture(&full, &failure, record));
    EXPECT_EQ(64, full.view.bitmapWidth);
    EXPECT_EQ(FrameLevel(frame), CentreLevel(full.view));
    ReleaseFullPicture(record);
    DestroyElement(&element);
}

struct StopRow {
    const char* what;
    std::function<void(Element*)> stop;
    bool resumesWhenShown;
};

TEST(Playback, TheTicksStopForAnElementHiddenDestroyedOrGivenAnotherFile) {
    const StopRow rows[] = {
        {"hidden", [](Element* element) { ShowWindow(element->window, SW_HIDE); }, true},
        // Taken whenever it comes, a frame job running or not.
        {"another file", [](Element* element) { SendFile(element, "quad.j2k"); }, false},
        {"destroyed", [](Element* element) { NPP_Destroy(&element->npp, NULL); }, false},
    };
    for (const StopRow& row : rows) {
        SCOPED_TRACE(row.what);
        Element element;
        CreateElement(&element, 64, 48, NP_EMBED, {});
        SendFile(&element, "loop.jpx");
        ASSERT_GT(Watch(&element, 600).frames.size(), 1u);
        row.stop(&element);
        PluginInstance* record = RecordOf(&element);
        uint32_t shown = record ? Watch(&element, 200).shown : 0;
        EXPECT_FALSE(PlaybackTimerFires(element.window));
        if (row.resumesWhenShown) {
            // Unseen, no frame was decoded; seen again, it plays on.
            EXPECT_EQ(shown, Watch(&element, 300).shown);
            ShowWindow(element.window, SW_SHOW);
            EXPECT_GT(Watch(&element, 600).frames.size(), 1u);
        }
        DestroyElement(&element);
    }
}

}  // namespace

// Stream reception and the decode thread through the NPP_ calls: which
// stream a write is for, announced lengths, out-of-order and broken streams, failed
// decodes and their reasons, second streams, printing, and several decodes
// at once.
#include <gtest/gtest.h>
#include <string.h>

#include "commands/commands.h"
#include "decode/jpeg2000.h"
#include "display_support.h"
#include "address_space.h"
#include "ui_driver.h"
#include "window/display.h"

namespace {

NPStream OpenStream(NPP npp, uint32_t announced) {
    NPStream stream = {};
    stream.url = "http://example.com/pictures/image.jp2";
    stream.end = announced;
    uint16_t type = 0;
    char mime[] = "image/jp2";
    EXPECT_EQ(NPERR_NO_ERROR, NPP_NewStream(npp, mime, &stream, 0, &type));
    return stream;
}

// Writes go into the store of the stream being received, and only there:
// a replaced stream's writes and end are refused, the end makes one view of
// the whole file and closes the store.
TEST(Stream, WritesGoToTheOpenStreamAndItsEndLeavesOneViewOfTheFile) {
    Element element;
    CreateElement(&element, 20, 20, NP_EMBED, {});
    PluginInstance* record = RecordOf(&element);
    NPStream replaced = OpenStream(&element.npp, 0);
    NPStream stream = OpenStream(&element.npp, 0);
    EXPECT_EQ(LoadStateReceiving, record->reception.loadState);
    EXPECT_STREQ("http://example.com/pictures/image.jp2", record->reception.url);
    std::vector<uint8_t> block(100000, 0x5A);
    for (int i = 0; i < 3; ++i) {
        EXPECT_GE(NPP_WriteReady(&element.npp, &stream), 100000);
        EXPECT_EQ(100000, NPP_Write(&element.npp, &stream, i * 100000, 100000, block.data()));
    }
    EXPECT_EQ(-1, NPP_Write(&element.npp, &replaced, 300000, 1000, block.data()));
    EXPECT_EQ(NPERR_NO_ERROR, NPP_DestroyStream(&element.npp, &replaced, NPRES_DONE));
    EXPECT_EQ(LoadStateReceiving, record->reception.loadState);
    EXPECT_EQ(0, NPP_Write(&element.npp, &stream, 300000, 0, block.data()));
    EXPECT_EQ(-5, NPP_Write(&element.npp, &stream, 300000, -5, block.data()));
    EXPECT_EQ(300000u, record->reception.store.length);

    EXPECT_EQ(NPERR_NO_ERROR, NPP_DestroyStream(&element.npp, &stream, NPRES_USER_BREAK));
    EXPECT_EQ(LoadStateEnded, record->reception.loadState);
    EXPECT_EQ(0, record->reception.store.sectionCount);
    ASSERT_EQ(300000u, record->reception.file.length);
    EXPECT_EQ(0x5A, record->reception.file.data[299999]);
    EXPECT_EQ(-1, NPP_Write(&element.npp, &stream, 300000, 1000, block.data()));
    DestroyElement(&element);
}

// A server may announce far more than it sends: 2 GB is only a promise, and
// the file that does come is shown.
TEST(Stream, AnAnnouncedLengthPastTheFileIsOnlyAPromise) {
    Element element;
    CreateElement(&element, 64, 48, NP_EMBED, {});
    SendStream(&element.npp, ReadFixture("quad.j2k"), StreamPlan{16384, 2000000000, {}, NPRES_DONE});
    ASSERT_TRUE(WaitForDecode(&element));
    ASSERT_NE(nullptr, RecordOf(&element)->picture.dib);
    EXPECT_EQ(64, RecordOf(&element)->picture.dibHeader->biWidth);
    DestroyElement(&element);
}

// View Image uses the stream's whole address, however long it is (the copy
// of the address is checked with the clipboard tests).
TEST(Stream, KeepsTheWholeAddressForViewImage) {
    Element element;
    CreateElement(&element, 20, 20, NP_EMBED, {});
    std::string url = "http://example.com/" + std::string(2000 - 23, 'a') + ".jp2";
    ASSERT_EQ(2000u, url.size());
    NPStream stream = {};
    stream.url = url.c_str();
    uint16_t type = 0;
    char mime[] = "image/jp2";
    ASSERT_EQ(NPERR_NO_ERROR, NPP_NewStream(&element.npp, mime, &stream, 0, &type));
    EXPECT_EQ(NPERR_NO_ERROR, NPP_DestroyStream(&element.npp, &stream, NPRES_USER_BREAK));
    PluginInstance* record = RecordOf(&element);
    EXPECT_EQ(url, InstanceUrl(record));
    Browser.urls.clear();
    ViewImage(record);
    ASSERT_EQ(1u, Browser.urls.size());
    EXPECT_EQ(url, Browser.urls[0]);
    DestroyElement(&element);
}

TEST(Stream, RefusesWritesBeforeTheBufferOrPast32Bits) {
    Element element;
    CreateElement(&element, 20, 20, NP_EMBED, {});
    NPStream stream = OpenStream(&element.npp, 0);
    uint8_t byte = 1;
    EXPECT_EQ(-1, NPP_Write(&element.npp, &stream, -1, 1, &byte));
    EXPECT_EQ(-1, NPP_Write(&element.npp, &stream, INT32_MAX, 1, &byte));
    EXPECT_EQ(-1, NPP_Write(&element.npp, &stream, 0, 1, NULL));
    EXPECT_EQ(-1, NPP_Write(NULL, &stream, 0, 1, &byte));
    EXPECT_EQ(0u, RecordOf(&element)->reception.store.length);
    DestroyElement(&element);
}

TEST(Stream, OutOfOrderBlocksGiveTheWholeFile) {
    std::vector<uint8_t> file = ReadFixture("gradient.jp2");
    ASSERT_GT(file.size(), 30u);
    int32_t blockSize = (int32_t)(file.size() / 3 + 1);
    for (int announce = 0; announce < 2; ++announce) {
        Element element;
        CreateElement(&element, 256, 256, NP_FULL, {});
        SendStream(&element.npp, file, StreamPlan{blockSize, announce, {2, 0, 1}, NPRES_DONE});
        EXPECT_EQ(file.size(), RecordOf(&element)->reception.file.length);
        ASSERT_TRUE(WaitForDecode(&element));
        EXPECT_EQ(0, RecordOf(&element)->picture.decodeError);
        Capture capture = CaptureWindow(element.window);
        EXPECT_EQ(0x102080u, capture.At(16, 32));
        DestroyElement(&element);
    }
}

TEST(Stream, GapsLeftByOutOfOrderBlocksReadAsZeros) {
    Element element;
    CreateElement(&element, 20, 20, NP_EMBED, {});
    NPStream stream = OpenStream(&element.npp, 0);
    std::vector<uint8_t> block(1000, 0xAB);
    EXPECT_EQ(1000, NPP_Write(&element.npp, &stream, 5000, 1000, block.data()));
    EXPECT_EQ(1000, NPP_Write(&element.npp, &stream, 0, 1000, block.data()));
    PluginInstance* record = RecordOf(&element);
    EXPECT_EQ(6000u, record->reception.store.length);
    const uint8_t* bytes = ReceivedBytesData(&record->reception.store);
    for (int i = 1000; i < 5000; i += 997) {
        EXPECT_EQ(0, bytes[i]);
    }
    DestroyElement(&element);
}


// A stream that ends early or does not decode shows the error with its
// reason (never the loading text for good; over the picture of what arrived
// when there is one), and the next stream on the same instance is judged
// afresh.
TEST(Stream, FailureShowsItsReasonAndTheNextStreamStartsClean) {
    struct Case {
        const char* file;
        NPReason reason;
        int32_t failure;
        const wchar_t* shown;
    } cases[] = {
        {"quad.j2k", NPRES_NETWORK_ERR, FailureInterrupted, L"the download was interrupted"},
        {"quad.j2k", NPRES_USER_BREAK, FailureInterrupted, L"the download was interrupted"},
        {"garbage.j2k", NPRES_DONE, DecodeFailureNotJpeg2000, L"not a JPEG 2000 file"},
        {"badheader.j2k", NPRES_DONE, DecodeFailureCorrupt, L"damaged or truncated"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        Element element;
        CreateElement(&element, 160, 60, NP_EMBED, {});
        std::vector<uint8_t> file = ReadFixture(c.file);
        SendStream(&element.npp, file, StreamPlan{100, 0, {}, c.reason});
        PluginInstance* record = RecordOf(&element);
        ASSERT_TRUE(WaitForDecode(&element));
        EXPECT_EQ(LoadStateEnded, record->reception.loadState);
        EXPECT_EQ(1, record->picture.decodeError);
        EXPECT_EQ(c.failure, record->picture.failureReason);
        EXPECT_EQ(nullptr, record->picture.dib);
        EXPECT_EQ(nullptr, record->picture.comments);
        EXPECT_EQ(file.size(), record->reception.file.length);  // what arrived stays for saving
        if (c.reason != NPRES_DONE) {
            EXPECT_EQ(255, record->picture.fileKind);  // no decode was started
        }
        if (c.reason == NPRES_DONE) {
            EXPECT_EQ(RenderStatusBox(160, 60, ErrorText, c.shown).pixels, CaptureWindow(element.window).pixels);
        } else {
            // What arrived stays on screen (its blue quadrant below the
            // reason's box), never the bare status box.
            Capture shown = CaptureWindow(element.window);
            EXPECT_EQ(0x0000FFu, shown.At(5, 55));
            EXPECT_NE(RenderStatusBox(160, 60, ErrorText, c.shown).pixels, shown.pixels);
        }

        SendFile(&element, "quad.j2k");
        ASSERT_TRUE(WaitForDecode(&element));
        EXPECT_EQ(0, record->picture.decodeError);
        EXPECT_EQ(0, record->picture.failureReason);
        ASSERT_NE(nullptr, record->picture.dib);
        EXPECT_EQ(0xFF0000u, CaptureWindow(element.window).At(1, 1));
        DestroyElement(&element);
    }
}

TEST(Stream, DecodePublishesImageKindAndComments) {
    Element element;
    ASSERT_TRUE(ShowFixture(&element, 64, 48, NP_EMBED, "quad.jp2"));
    PluginInstance* record = RecordOf(&element);
    EXPECT_EQ(FileKindJp2, record->picture.fileKind);
    ASSERT_NE(nullptr, record->picture.dib);
    EXPECT_EQ((BITMAPINFOHEADER*)record->picture.dib, record->picture.dibHeader);
    EXPECT_EQ(record->picture.dib + 40 + PackedDibPaletteSize(record->picture.dib), record->picture.dibBits);
    EXPECT_EQ(64, record->picture.dibHeader->biWidth);
    ASSERT_NE(nullptr, record->picture.comments);
    EXPECT_STREQ("display fixture", (const char*)record->picture.comments);
    EXPECT_EQ(0, record->picture.decodeError);
    DestroyElement(&element);
}

TEST(Stream, SecondStreamWhileDecodingIsTakenAndReplacesTheImage) {
    Element element;
    CreateElement(&element, 64, 48, NP_EMBED, {});
    SendFile(&element, "big.j2k");
    PluginInstance* record = RecordOf(&element);
    std::vector<uint8_t> quad = ReadFixture("quad.j2k");
    NPStream stream = OpenStream(&element.npp, (uint32_t)quad.size());
    ASSERT_EQ((int32_t)quad.size(), NPP_Write(&element.npp, &stream, 0, (int32_t)quad.size(), quad.data()));
    EXPECT_EQ(NPERR_NO_ERROR, NPP_DestroyStream(&element.npp, &stream, NPRES_DONE));
    ASSERT_TRUE(WaitForDecode(&element, 60000));
    ASSERT_NE(nullptr, record->picture.dib);
    EXPECT_EQ(64, record->picture.dibHeader->biWidth);
    EXPECT_EQ(0, record->picture.decodeError);
    EXPECT_EQ(0xFF0000u, CaptureWindow(element.window).At(1, 1));
    // A repeated end of the finished stream starts nothing.
    EXPECT_EQ(NPERR_NO_ERROR, NPP_DestroyStream(&element.npp, &stream, NPRES_DONE));
    EXPECT_FALSE(IsDecodeBusy(record));
    DestroyElement(&element);
}

TEST(Stream, DestroyWhileDecodingReturnsAndReleasesLater) {
    Element element;
    CreateElement(&element, 64, 48, NP_EMBED, {});
    SendFile(&element, "big.j2k");
    PluginInstance* record = RecordOf(&element);
    EXPECT_TRUE(IsDecodeBusy(record));
    EXPECT_EQ(NPERR_NO_ERROR, NPP_Destroy(&element.npp, NULL));
    EXPECT_EQ(nullptr, element.npp.pdata);
    // The window is the browser's again, and pumping messages while the
    // orphaned decode ends touches nothing of the record.
    EXPECT_EQ(nullptr, GetPropA(element.window, "pdata"));
    for (int i = 0; i < 100; ++i) {
        PumpMessages();
        Sleep(20);
    }
    DestroyElement(&element);
}

// A second stream while the view grows: no level of the last stream's
// picture is queued over the bytes arriving, and they are all taken.
TEST(Stream, ASecondStreamIsTakenWholeWhileTheViewGrows) {
    Element element;
    ASSERT_TRUE(ShowFixture(&element, 64, 48, NP_EMBED, "big.j2k"));
    PluginInstance* record = RecordOf(&element);
    std::vector<uint8_t> bytes = ReadFixture("arriving.j2k");
    NPStream stream = OpenStream(&element.npp, (uint32_t)bytes.size());
    Sleep(150);  // a file slower than this gets partial pictures
    int32_t half = (int32_t)bytes.size() / 2;
    ASSERT_EQ(half, NPP_Write(&element.npp, &stream, 0, half, bytes.data()));
    SetWindowPos(element.window, NULL, 0, 0, 300, 300, SWP_NOMOVE | SWP_NOZORDER);
    PumpMessages();
    int32_t rest = (int32_t)bytes.size() - half;
    EXPECT_EQ(rest, NPP_Write(&element.npp, &stream, half, rest, bytes.data() + half));
    EXPECT_EQ(NPERR_NO_ERROR, NPP_DestroyStream(&element.npp, &stream, NPRES_DONE));
    ASSERT_TRUE(WaitForDecode(&element, 60000));
    ASSERT_NE(nullptr, record->picture.dib);
    EXPECT_EQ(1000, record->picture.shownWidth);
    EXPECT_EQ(0, record->picture.decodeError);
    DestroyElement(&element);
}

// Half a file queues a partial decode; the instance goes while it waits or
// runs, and the decode leaves nothing behind to touch.
TEST(Stream, DestroyDuringAPartialDecodeIsSafe) {
    Element element;
    CreateElement(&element, 200, 200, NP_EMBED, {});
    std::vector<uint8_t> bytes = ReadFixture("arriving.j2k");
    NPStream stream = OpenStream(&element.npp, (uint32_t)bytes.size());
    Sleep(150);  // a file slower than this gets partial pictures
    int32_t half = (int32_t)bytes.size() / 2;
    EXPECT_EQ(half, NPP_Write(&element.npp, &stream, 0, half, bytes.data()));
    EXPECT_TRUE(IsDecodeBusy(RecordOf(&element)));
    EXPECT_EQ(NPERR_NO_ERROR, NPP_Destroy(&element.npp, NULL));
    for (int i = 0; i < 50; ++i) {
        PumpMessages();
        Sleep(20);
    }
    DestroyElement(&element);
}

// One element per processor decoding a 1600 x 1600 picture: a job queued
// now waits until they end.
void StartBlockers(std::vector<Element>* blockers) {
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    *blockers = std::vector<Element>(system.dwNumberOfProcessors);
    for (Element& blocker : *blockers) {
        CreateElement(&blocker, 1600, 1600, NP_EMBED, {});
        SendFile(&blocker, "big.j2k");
    }
}

void EndBlockers(std::vector<Element>* blockers) {
    for (Element& blocker : *blockers) {
        EXPECT_TRUE(WaitForDecode(&blocker, 60000));
        DestroyElement(&blocker);
    }
}

// What each thing the browser can do while a prefix job waits (behind one
// full decode per processor) does: the state of the pipeline it leaves the
// record in, and what follows. Ended: the file's decode replaces the job
// and gives the file's picture. Broken after more arrived: the waiting job
// reads all that did, and it alone runs. A new stream: the job is dropped
// and the new file shows. A destroy: the job goes with the record.
TEST(Stream, EachEventWhileAPrefixJobWaits) {
    enum { End, Break, NewStream, Destroy };
    struct Case {
        const char* what;
        int event;
        int32_t state;
    } cases[] = {
        {"the stream ends", End, PipePlanQueued},
        {"the stream breaks", Break, PipeLastPrefixQueued},
        {"a new stream", NewStream, PipeReceiving},
        {"a destroy", Destroy, PipeGone},
    };
    std::vector<uint8_t> bytes = ReadFixture("arriving.j2k");
    int32_t half = (int32_t)bytes.size() / 2, more = (int32_t)bytes.size() * 3 / 4;
    Element reference;
    ASSERT_TRUE(ShowFixture(&reference, 200, 200, NP_EMBED, "arriving.j2k"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Element element;
        CreateElement(&element, 200, 200, NP_EMBED, {});
        PluginInstance* record = RecordOf(&element);
        NPStream stream = OpenStream(&element.npp, (uint32_t)bytes.size());
        Sleep(150);  // a file slower than this gets partial pictures
        std::vector<Element> blockers;
        StartBlockers(&blockers);
        ASSERT_EQ(half, NPP_Write(&element.npp, &stream, 0, half, bytes.data()));
        ASSERT_EQ(PipePrefixQueued, LoadAcquire(&record->queue.state));
        int32_t queuedLength = record->queue.prefix.queued.length;
        int32_t end = c.event == End ? (int32_t)bytes.size() : more;
        ASSERT_EQ(end - half, NPP_Write(&element.npp, &stream, half, end - half, bytes.data() + half));
        NPStream next = {};
        next.url = "quad.j2k";
        if (c.event == End || c.event == Break) {
            NPP_DestroyStream(&element.npp, &stream, c.event == End ? NPRES_DONE : NPRES_NETWORK_ERR);
        } else if (c.event == NewStream) {
            uint16_t type = 0;
            char mime[] = "image/jp2";
            EXPECT_EQ(NPERR_NO_ERROR, NPP_NewStream(&element.npp, mime, &next, 0, &type));
        } else {
            EXPECT_EQ(NPERR_NO_ERROR, NPP_Destroy(&element.npp, NULL));
            EXPECT_EQ(nullptr, element.npp.pdata);
        }
        if (c.event != Destroy) {
            EXPECT_EQ(c.state, LoadAcquire(&record->queue.state));
        }
        if (c.event == Break) {
            EXPECT_GT(record->queue.prefix.queued.length, queuedLength);
        }
        if (c.event == NewStream) {
            std::vector<uint8_t> quad = ReadFixture("quad.j2k");
            ASSERT_EQ((int32_t)quad.size(), NPP_Write(&element.npp, &next, 0, (int32_t)quad.size(), quad.data()));
            EXPECT_EQ(NPERR_NO_ERROR, NPP_DestroyStream(&element.npp, &next, NPRES_DONE));
        }
        EndBlockers(&blockers);
        ASSERT_TRUE(WaitForDecode(&element, 60000));
        if (c.event == End) {
            EXPECT_TRUE(CaptureWindow(reference.window).pixels == CaptureWindow(element.window).pixels);
        } else if (c.event == Break) {
            EXPECT_EQ(PipeBroken, LoadAcquire(&record->queue.state));
            EXPECT_EQ(1, record->arrival.pictures);
        } else if (c.event == NewStream) {
            EXPECT_EQ(0xFF0000u, CaptureWindow(element.window).At(1, 1));
        }
        DestroyElement(&element);
    }
    DestroyElement(&reference);
}

// A large file (a picture and 64 MiB past its end) arriving in 64 KiB blocks
// while its partial decode waits behind two other elements' decodes: every
// block is taken where the bytes stay (they never move), and the picture is
// the file's.
TEST(Stream, ALargeFileArrivesWhileItsPartialDecodeWaits) {
    std::vector<uint8_t> large = ReadFixture("arriving.j2k");
    large.resize(64u << 20, 0x5A);
    Element blockers[2];
    for (Element& blocker : blockers) {
        CreateElement(&blocker, 1600, 1600, NP_EMBED, {});
        SendFile(&blocker, "big.j2k");
    }
    Element element;
    CreateElement(&element, 200, 200, NP_EMBED, {});
    NPStream stream = OpenStream(&element.npp, (uint32_t)large.size());
    Sleep(150);  // a file slower than this gets partial pictures
    PluginInstance* record = RecordOf(&element);
    const uint8_t* stored = nullptr;
    for (int32_t offset = 0; offset < (int32_t)large.size(); offset += 65536) {
        ASSERT_EQ(65536, NPP_Write(&element.npp, &stream, offset, 65536, large.data() + offset)) << offset;
        stored = stored ? stored : ReceivedBytesData(&record->reception.store);
        ASSERT_EQ(stored, ReceivedBytesData(&record->reception.store)) << offset;
        if (offset == 0) {
            EXPECT_TRUE(IsDecodeBusy(record));  // its prefix job waits (or runs)
        }
    }
    EXPECT_EQ(NPERR_NO_ERROR, NPP_DestroyStream(&element.npp, &stream, NPRES_DONE));
    ASSERT_TRUE(WaitForDecode(&element, 60000));
    Element reference;
    ASSERT_TRUE(ShowFixture(&reference, 200, 200, NP_EMBED, "arriving.j2k"));
    EXPECT_TRUE(CaptureWindow(reference.window).pixels == CaptureWindow(element.window).pixels);
    for (Element* each : {&blockers[0], &blockers[1], &element, &reference}) {
        DestroyElement(each);
    }
}

TEST(Print, EmbeddedStretchesIntoThePrinterDcOrSaysWhyFullPageIsLeftToTheBrowser) {
    Element element;
    CreateElement(&element, 64, 48, NP_EMBED, {});
    HDC screen = GetDC(NULL);
    HDC printer = CreateCompatibleDC(screen);
    HBITMAP page = CreateCompatibleBitmap(screen, 200, 100);
    HGDIOBJ old = SelectObject(printer, page);
    RECT all = {0, 0, 200, 100};
    FillRect(printer, &all, (HBRUSH)GetStockObject(BLACK_BRUSH));
    NPPrint print = {};
    print.mode = NP_EMBED;
    print.print.embedPrint.platformPrint = printer;
    print.print.embedPrint.window.x = 10;
    print.print.embedPrint.window.y = 20;
    print.print.embedPrint.window.width = 100;
    print.print.embedPrint.window.height = 40;
    // Before the file has come: the reason in a framed white box over the
    // area, and nothing outside it.
    NPP_Print(&element.npp, &print);
    Capture early = CaptureDc(printer, 200, 100);
    EXPECT_EQ(0u, early.At(9, 22));
    EXPECT_EQ(0u, early.At(10, 40));  // the frame
    EXPECT_EQ(0xFFFFFFu, early.At(105, 55));
    int text = 0;
    for (int y = 21; y < 59; ++y) {
        for (int x = 11; x < 109; ++x) text += early.At(x, y) != 0xFFFFFFu;
    }
    EXPECT_GT(text, 20);

    SendFile(&element, "quad.j2k");
    ASSERT_TRUE(WaitForDecode(&element));
    SetStretchBltMode(printer, HALFTONE);
    NPP_Print(&element.npp, &print);
    Capture printed = CaptureDc(printer, 200, 100);
    EXPECT_EQ(0xFF0000u, printed.At(12, 22));
    EXPECT_EQ(0xFFFFFFu, printed.At(107, 57));
    EXPECT_EQ(0x00FF00u, printed.At(107, 22));
    EXPECT_EQ(0u, printed.At(9, 22));
    EXPECT_EQ(0u, printed.At(111, 22));
    EXPECT_EQ(0u, printed.At(50, 61));
    EXPECT_EQ(HALFTONE, GetStretchBltMode(printer));

    NPPrint full = {};
    full.mode = NP_FULL;
    full.print.fullPrint.pluginPrinted = 1;
    NPP_Print(&element.npp, &full);
    EXPECT_EQ(0, full.print.fullPrint.pluginPrinted);
    NPP_Print(&element.npp, NULL);
    SelectObject(printer, old);
    DeleteObject(page);
    DeleteDC(printer);
    ReleaseDC(NULL, screen);
    DestroyElement(&element);
}

// An element shows the level its size needs: growing decodes the next one,
// which replaces it, shrinking decodes nothing.
TEST(Levels, GrowingDecodesTheLevelThatCoversShrinkingNothing) {
    Element element;
    ASSERT_TRUE(ShowFixture(&element, 64, 48, NP_EMBED, "big.j2k"));  // 1600 x 1600
    PluginInstance* record = RecordOf(&element);
    struct Step {
        int width, height;
        int32_t bitmapWidth;
    } steps[] = {
        {300, 300, 400},  // 200 would not cover 300
        {401, 300, 800},
        {64, 48, 800},    // smaller: the larger level stays
        {400, 400, 800},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.width);
        SetWindowPos(element.window, NULL, 0, 0, step.width, step.height, SWP_NOMOVE | SWP_NOZORDER);
        ASSERT_TRUE(WaitForDecode(&element, 60000));
        EXPECT_EQ(step.bitmapWidth, record->picture.dibHeader->biWidth);
        EXPECT_EQ(1600, record->picture.shownWidth);
    }
    DestroyElement(&element);
}

// Save as bitmap writes the full picture whatever level the element shows,
// also when chosen while the decode still runs; the element then goes back
// to its own level (the full picture is large).
TEST(Levels, SaveAsBitmapWritesTheFullPicture) {
    std::vector<uint8_t> file = ReadFixture("big.j2k");
    uint8_t* full = nullptr;
    ASSERT_TRUE(DecodeToPackedDib(&full, file.data(), (int32_t)file.size()));
    std::vector<uint8_t> expected = BitmapFileOf(full);
    free(full);
    for (bool whileDecoding : {true, false}) {
        SCOPED_TRACE(whileDecoding);
        Element element;
        CreateElement(&element, 64, 48, NP_EMBED, {});
        SendFile(&element, "big.j2k");
        if (!whileDecoding) {
            ASSERT_TRUE(WaitForDecode(&element, 60000));
            ASSERT_EQ(100, RecordOf(&element)->picture.dibHeader->biWidth);
        }
        std::string path = TempPath("level_full.bmp");
        DeleteFileA(path.c_str());
        SaveDialogView view;
        std::vector<std::string> messages;
        RunModal([&] { SaveImageAs(RecordOf(&element)); },
                 {AnswerSaveDialog(&view, 2, path), AnswerPluginMessage(&messages)}, 60000);
        EXPECT_TRUE(messages.empty()) << messages[0];
        std::vector<uint8_t> written = FileBytes(path);
        EXPECT_EQ(expected.size(), written.size());
        EXPECT_TRUE(written == expected);
        ASSERT_TRUE(WaitForDecode(&element, 60000));
        EXPECT_EQ(100, RecordOf(&element)->picture.dibHeader->biWidth);
        DeleteFileA(path.c_str());
        DestroyElement(&element);
    }
}

// Printing draws the full picture, not the smaller level the element shows
// (a 1:1 print is the full decode, pixel for pixel), and the element then
// goes back to its own level.
TEST(Levels, PrintDrawsTheFullPicture) {
    std::vector<uint8_t> file = ReadFixture("big.j2k");  // 1600 x 1600 noise
    uint8_t* full = nullptr;
    ASSERT_TRUE(DecodeToPackedDib(&full, file.data(), (int32_t)file.size()));
    Element element;
    ASSERT_TRUE(ShowFixture(&element, 64, 48, NP_EMBED, "big.j2k"));
    ASSERT_EQ(100, RecordOf(&element)->picture.dibHeader->biWidth);
    HDC screen = GetDC(NULL);
    HDC printer = CreateCompatibleDC(screen), reference = CreateCompatibleDC(screen);
    HBITMAP pages[2] = {CreateCompatibleBitmap(screen, 1600, 1600), CreateCompatibleBitmap(screen, 1600, 1600)};
    HGDIOBJ old[2] = {SelectObject(printer, pages[0]), SelectObject(reference, pages[1])};
    SetDIBitsToDevice(reference, 0, 0, 1600, 1600, 0, 0, 0, 1600,
                      PackedDibBits(full), (const BITMAPINFO*)full,
                      DIB_RGB_COLORS);
    NPPrint print = {};
    print.mode = NP_EMBED;
    print.print.embedPrint.platformPrint = printer;
    print.print.embedPrint.window.width = 1600;
    print.print.embedPrint.window.height = 1600;
    NPP_Print(&element.npp, &print);
    EXPECT_TRUE(CaptureDc(printer, 1600, 1600).pixels == CaptureDc(reference, 1600, 1600).pixels);
    ASSERT_TRUE(WaitForDecode(&element, 60000));
    EXPECT_EQ(100, RecordOf(&element)->picture.dibHeader->biWidth);
    SelectObject(printer, old[0]);
    SelectObject(reference, old[1]);
    for (HBITMAP page : pages) DeleteObject(page);
    DeleteDC(printer);
    DeleteDC(reference);
    ReleaseDC(NULL, screen);
    free(full);
    DestroyElement(&element);
}

TEST(Decode, SeveralInstancesDecodeAtOnce) {
    const char* names[] = {"big.j2k", "quad.j2k", "gradient.jp2", "big.j2k"};
    Element elements[4];
    for (int i = 0; i < 4; ++i) {
        CreateElement(&elements[i], 64, 48, NP_EMBED, {});
    }
    for (int i = 0; i < 4; ++i) {
        SendFile(&elements[i], names[i]);
    }
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(WaitForDecode(&elements[i], 60000));
    }
    // Each at the smallest level covering its 64 x 48 element.
    const int32_t widths[] = {100, 64, 64, 100};
    for (int i = 0; i < 4; ++i) {
        PluginInstance* record = RecordOf(&elements[i]);
        ASSERT_NE(nullptr, record->picture.dibHeader) << i;
        EXPECT_EQ(widths[i], record->picture.dibHeader->biWidth) << i;
        EXPECT_EQ(0, record->picture.decodeError) << i;
    }
    EXPECT_EQ(0xFF0000u, CaptureWindow(elements[1].window).At(2, 2));
    for (Element& element : elements) {
        DestroyElement(&element);
    }
}

}  // namespace

namespace {

// Filling a 64-bit address space is not a state a browser gets into, and
// under Wine it costs a byte of bookkeeping per page reserved (tens of GB
// resident for 128 TB): the tests that need it full run in 32 bits only.
#define SKIP_WITHOUT_A_FILLABLE_ADDRESS_SPACE()                                        \
    if (sizeof(void*) == 8) GTEST_SKIP() << "a 64-bit address space cannot be filled"

TEST(Decode, ThreadThatCannotStartShowsTheErrorInsteadOfWaitingForever) {
    SKIP_WITHOUT_A_FILLABLE_ADDRESS_SPACE();
    Element element;
    CreateElement(&element, 160, 60, NP_EMBED, {});
    std::vector<uint8_t> file = ReadFixture("quad.j2k");
    NPStream stream = OpenStream(&element.npp, (uint32_t)file.size());
    ASSERT_EQ((int32_t)file.size(), NPP_Write(&element.npp, &stream, 0, (int32_t)file.size(), file.data()));
    std::vector<void*> blocks = ReserveAddressSpace();
    NPError result = NPP_DestroyStream(&element.npp, &stream, NPRES_DONE);
    PluginInstance* record = RecordOf(&element);
    int running = IsDecodeBusy(record);
    ReleaseAddressSpace(blocks);
    EXPECT_EQ(NPERR_NO_ERROR, result);
    ASSERT_EQ(0, running) << "the thread started although no stack could be reserved";
    EXPECT_EQ(1, record->picture.decodeError);
    EXPECT_EQ(LoadStateEnded, record->reception.loadState);
    EXPECT_EQ(RenderStatusBox(160, 60, ErrorText, L"out of memory").pixels, CaptureWindow(element.window).pixels);
    DestroyElement(&element);
}

// The CF_DIB block on the clipboard, its first `size` bytes; empty when absent.
std::vector<uint8_t> ClipboardDib(size_t size) {
    std::vector<uint8_t> bytes;
    if (!OpenClipboardPatiently()) return bytes;
    HANDLE data = GetClipboardData(CF_DIB);
    const uint8_t* block = data && GlobalSize(data) >= size ? (const uint8_t*)GlobalLock(data) : nullptr;
    if (block) bytes.assign(block, block + size);
    if (block) GlobalUnlock(data);
    CloseClipboard();
    return bytes;
}

// Copy frame in a 32-bit browser whose address space is mostly used, with
// no range left as large as the full picture's bitmap: the decoder makes the
// full picture and it stays in the decoder's section (never mapped whole
// here), and the clipboard's one block is whatever the system's heap can
// still give: either the copy is the full decode, or the user is told that
// block could not be had and the clipboard stays as it was; the element
// keeps its level. Once the space is free again the copy is the full
// decode, byte for byte, and the element goes back to its level.
TEST(Levels, CopyFrameWithoutRoomForTheFullPictureSaysWhyThenCopiesItOnceThereIs) {
    const struct {
        const char* file;  // 2000 x 2000 at reduce 1 (quarters: red, green, blue, white)
        int shownReduce;   // at 600 x 600
    } files[] = {{"gallery4000.j2k", 2}, {"single2000.j2k", 1}};
    for (const auto& picture : files) {
        SCOPED_TRACE(picture.file);
        std::vector<uint8_t> file = ReadFixture(picture.file);
        uint8_t* full = nullptr;
        ASSERT_TRUE(DecodeToPackedDib(&full, file.data(), (int32_t)file.size()));
        std::vector<uint8_t> expected(full, full + PackedDibSize(full));
        free(full);
        Element element;
        ASSERT_TRUE(ShowFixture(&element, 600, 600, NP_EMBED, picture.file));
        PluginInstance* record = RecordOf(&element);
        ASSERT_EQ(1000, record->picture.dibHeader->biWidth);
        // Free space half way between the planned peaks of that level and of the full picture.
        uint32_t size = (uint32_t)file.size();
        uint64_t leave = (PlannedDecodeBytes(&record->queue.plan, picture.shownReduce, size) +
                          PlannedDecodeBytes(&record->queue.plan, 0, size)) /
                         2;
        const struct {
            bool memoryShort;
            std::vector<std::string> messages;
        } rows[] = {{true, {"Can't allocate memory for clipboard"}}, {false, {}}};
        for (const auto& row : rows) {
            [&] {
                SCOPED_TRACE(row.memoryShort);
                if (row.memoryShort) SKIP_WITHOUT_A_FILLABLE_ADDRESS_SPACE();
                std::vector<void*> blocks = row.memoryShort ? ReserveAddressSpace(leave) : std::vector<void*>();
                if (row.memoryShort) ReserveRangesOfAtLeast(&blocks, expected.size());
                DWORD sequence = GetClipboardSequenceNumber();
                std::vector<std::string> messages;
                RunModal([&] { CopyCurrentFrame(record); }, {AnswerPluginMessage(&messages)}, 60000);
                EXPECT_TRUE(WaitForDecode(&element, 60000));
                ReleaseAddressSpace(blocks);  // a paint itself may need memory
                Capture shown = RepaintAndCapture(element.window);
                if (!messages.empty()) {
                    EXPECT_EQ(row.messages, messages);
                }
                EXPECT_EQ(1000, record->picture.dibHeader->biWidth);
                EXPECT_EQ(0xFF0000u, shown.At(100, 100));  // the red quarter, not a blank
                if (!messages.empty()) {
                    EXPECT_EQ(sequence, GetClipboardSequenceNumber());
                } else {
                    EXPECT_TRUE(ClipboardDib(expected.size()) == expected);
                }
            }();
        }
        // Memory short once is not short for ever: a larger element gets its level.
        SetWindowPos(element.window, NULL, 0, 0, 1200, 1200, SWP_NOMOVE | SWP_NOZORDER);
        ASSERT_TRUE(WaitForDecode(&element, 60000));
        EXPECT_EQ(2000, record->picture.dibHeader->biWidth);
        DestroyElement(&element);
    }
}

// Inside a menu or dialog of the instance the first stream is taken (it is
// offered only once); a later one would pull the image from under it.
TEST(Stream, WhileAMenuOrDialogIsOpenOnlyTheFirstStreamIsTaken) {
    Element element;
    CreateElement(&element, 20, 20, NP_EMBED, {});
    PluginInstance* record = RecordOf(&element);
    BeginModalUse(record);
    NPStream first = OpenStream(&element.npp, 0);
    NPStream second = first;
    uint16_t type = 0;
    char mime[] = "image/jp2";
    EXPECT_EQ(NPERR_GENERIC_ERROR, NPP_NewStream(&element.npp, mime, &second, 0, &type));
    EndModalUse(record);
    EXPECT_EQ(NPERR_NO_ERROR, NPP_NewStream(&element.npp, mime, &second, 0, &type));
    DestroyElement(&element);
}

// The warning comes from the window once NPP_Write has returned, never
// inside the browser's call.
TEST(Stream, FailedWriteWarnsDropsTheBytesAndStopsTheStream) {
    SKIP_WITHOUT_A_FILLABLE_ADDRESS_SPACE();
    Element element;
    CreateElement(&element, 60, 60, NP_EMBED, {});
    NPStream stream = OpenStream(&element.npp, 0);
    std::vector<uint8_t> block(1000, 9);
    ASSERT_EQ(1000, NPP_Write(&element.npp, &stream, 0, 1000, block.data()));
    std::string seen, seenInsideWrite;
    int32_t written = 0;
    RunModal(
        [&] {
            std::vector<void*> blocks = ReserveAddressSpace();
            written = NPP_Write(&element.npp, &stream, 64 << 20, 1000, block.data());
            ReleaseAddressSpace(blocks);
            seenInsideWrite = seen;
            PumpMessages();
        },
        {InspectPluginMessage([&](HWND box) { seen = WindowText(box) + "|" + DialogItemText(box, MessageBoxTextId); })});
    EXPECT_EQ(-1, written);
    EXPECT_EQ("", seenInsideWrite);
    PluginInstance* record = RecordOf(&element);
    EXPECT_EQ(0, record->reception.store.sectionCount);
    EXPECT_EQ(0u, record->reception.store.length);
    EXPECT_EQ(-1, NPP_Write(&element.npp, &stream, 2000, 1000, block.data()));  // the bytes are gone
    EXPECT_EQ(0u, seen.find("JPEG 2000 Plug-in|Cannot allocate memory for image (67108864, 1000, ")) << seen;
    EXPECT_EQ(NPERR_NO_ERROR, NPP_DestroyStream(&element.npp, &stream, NPRES_NETWORK_ERR));
    EXPECT_EQ(LoadStateEnded, record->reception.loadState);
    EXPECT_FALSE(IsDecodeBusy(record));
    EXPECT_EQ(DecodeFailureOutOfMemory, record->picture.failureReason);  // not "interrupted"
    DestroyElement(&element);
}

}  // namespace

// Printing through a real print queue: npkavrel.dll in the test browser, Print
// Picture reached by keys through the menu and the system's print dialog,
// the PDF Debian's PDF printer writes rasterised with pdftoppm and compared
// with the picture; the in-process host's NPP_Print onto the same printer.
// tools/print-queue.sh makes the queues (NPKAVREL_PRINT_OUT names where the
// PDFs go); without them every test is skipped.
#include <stdlib.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "browser_suite.h"
#include "decode/jpeg2000.h"
#include "fixture_encoder.h"
#include "pixel_capture.h"
#include "test_files.h"
#include "ui_driver.h"
#include "user_input.h"

namespace {

// pdftoppm's resolution: A4 is 620 x 877 pixels.
const int RasterDpi = 75;

// Where cups-pdf writes, as a Unix path (empty: no queue).
std::string QueueFolder() {
    const char* folder = getenv("NPKAVREL_PRINT_OUT");
    return folder != nullptr ? folder : "";
}

std::string WorkPath(const char* name) { return std::string(PRINT_DIR) + "\\" + name; }

// Smooth colour everywhere, never white (the picture's edges are found as
// the page's non-white part), each corner its own colour.
void FillSmooth(uint8_t* samples, uint32_t component, uint32_t x0, uint32_t y0, uint32_t width, uint32_t height,
                uint32_t fullWidth, uint32_t fullHeight) {
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            uint32_t across = (x0 + x) * 255 / fullWidth, down = (y0 + y) * 255 / fullHeight;
            uint32_t values[3] = {across, down, 255 - (across + down) / 2};
            samples[(size_t)y * width + x] = (uint8_t)values[component];
        }
    }
}
template <uint32_t Width, uint32_t Height>
void FillPicture(uint8_t* samples, uint32_t component, uint32_t x0, uint32_t y0, uint32_t width, uint32_t height) {
    FillSmooth(samples, component, x0, y0, width, height, Width, Height);
}

// The same picture encoded tile by tile, in a JP2 file stating its
// resolution when pixelsPerMetre is not 0; kept between runs.
template <uint32_t Width, uint32_t Height>
void MakePicture(const char* name, uint16_t pixelsPerMetre) {
    if (FileExists(WorkPath(name))) return;
    std::vector<uint8_t> bytes = EncodeTiled(Width, Height, 3, 600, FillPicture<Width, Height>, 10.0f);
    if (pixelsPerMetre != 0) {
        FixtureImage image = {Width, Height, std::vector<FixtureComponent>(3, FixtureComponent{8, 0, 1, 1}), {}, 0, 0, 0};
        std::vector<uint8_t> resolution, res;
        AppendBox(&resolution, "resd", ResolutionFields(pixelsPerMetre, 1, pixelsPerMetre, 1, 0, 0));
        AppendBox(&res, "res ", resolution);
        bytes = AppendToJp2Header(WrapJp2Family(bytes, image, "jp2 "), res);
    }
    WriteFileBytes(WorkPath(name), bytes);
}

// print_tall.j2k: 4:5; print_wide.jp2: 2:1 stating 600 pixels per inch, so
// 4 x 2 inches printed, from a level below the full picture at up to 600
// dpi; broken.j2k: no picture at all.
const uint32_t TallWidth = 1000, TallHeight = 1250, WideWidth = 2400, WideHeight = 1200;
void MakePictures() {
    CreateDirectoryA(PRINT_DIR, nullptr);
    MakePicture<TallWidth, TallHeight>("print_tall.j2k", 0);
    MakePicture<WideWidth, WideHeight>("print_wide.jp2", 23622);
    WriteFileText(WorkPath("broken.j2k"), "not a picture");
    WriteFileText(WorkPath("tall.html"), "<html><body><embed src=print_tall.j2k width=208 height=260></body></html>");
    WriteFileText(WorkPath("npp.html"), "<html><body><embed src=print_tall.j2k width=240 height=300>"
                                        "<embed src=broken.j2k width=240 height=100></body></html>");
}

std::vector<std::string> PdfNames() {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(("Z:" + QueueFolder() + "/*.pdf").c_str(), &found);
    for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &found)) {
        names.push_back(found.cFileName);
    }
    if (search != INVALID_HANDLE_VALUE) FindClose(search);
    return names;
}

// Runs a shell command line: Wine starts Unix programs natively, but its
// process handle neither waits for their end nor gives their exit code, so
// the command leaves a mark once it has succeeded. 1 when it did within a
// minute.
int RunShell(const std::string& command) {
    std::string mark = QueueFolder() + "/done";
    DeleteFileA(("Z:" + mark).c_str());
    std::string commandLine = "/bin/sh -c \"" + command + " && : >" + mark + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA("Z:\\bin\\sh", &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        return 0;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    for (DWORD start = GetTickCount(); GetTickCount() - start < 60000; Sleep(50)) {
        if (FileExists("Z:" + mark)) return 1;
    }
    return 0;
}

// One job's PDF as the queue made it, its pages rasterised.
struct PrintedJob {
    std::string pdf;
    std::vector<Capture> pages;
};

// The first PDF not in `before` once complete (cups-pdf hands it over from
// Ghostscript as it is written), rasterised; no pages after 60 s.
PrintedJob WaitForJob(const std::vector<std::string>& before) {
    PrintedJob job;
    for (DWORD start = GetTickCount(); job.pdf.empty() && GetTickCount() - start < 60000; Sleep(200)) {
        for (const std::string& name : PdfNames()) {
            if (std::find(before.begin(), before.end(), name) != before.end()) continue;
            std::string text = FileText("Z:" + QueueFolder() + "/" + name);
            if (text.size() < 8 || text.find("%%EOF", text.size() - 8) == std::string::npos) continue;
            job.pdf = text;
            std::string prefix = QueueFolder() + "/page";
            RunShell("rm -f '" + prefix + "'-*.ppm && pdftoppm -r " + std::to_string(RasterDpi) + " '" +
                     QueueFolder() + "/" + name + "' '" + prefix + "'");
            for (int page = 1; FileExists("Z:" + prefix + "-" + std::to_string(page) + ".ppm"); ++page) {
                job.pages.push_back(ReadPpm("Z:" + prefix + "-" + std::to_string(page) + ".ppm"));
            }
            break;
        }
    }
    return job;
}

std::string Describe(RECT r) {
    return std::to_string(r.left) + "," + std::to_string(r.top) + "-" + std::to_string(r.right) + "," +
           std::to_string(r.bottom);
}

// The smallest rectangle holding every pixel of `area` that is not white.
RECT InkBounds(const Capture& page, RECT area) {
    RECT ink = {area.right, area.bottom, area.left, area.top};
    for (int y = area.top; y < area.bottom; ++y) {
        for (int x = area.left; x < area.right; ++x) {
            uint32_t p = page.At(x, y);
            if ((p >> 16 & 255) < 235 || (p >> 8 & 255) < 235 || (p & 255) < 235) {
                ink = {std::min(ink.left, (LONG)x), std::min(ink.top, (LONG)y), std::max(ink.right, (LONG)x + 1),
                       std::max(ink.bottom, (LONG)y + 1)};
            }
        }
    }
    return ink;
}

// PSNR of the printed area against the picture shrunk to its size (from
// the smallest level still larger).
double CompareWithPicture(const Capture& page, RECT area, const char* name) {
    std::vector<uint8_t> bytes = FileBytes(WorkPath(name));
    int kind = ClassifyFileKind(bytes.data(), (uint32_t)bytes.size());
    DecodePlan plan;
    uint8_t* dib = nullptr;
    if (!PlanDecode(&plan, nullptr, kind, bytes.data(), (int32_t)bytes.size())) return 0;
    int reduce = ChooseViewReduce(plan.fullWidth, plan.fullHeight, (uint32_t)(area.right - area.left),
                                  (uint32_t)(area.bottom - area.top), plan.shownReduce, plan.maxReduce);
    if (!DecodeReducedToPackedDib(&dib, nullptr, kind, bytes.data(), (int32_t)bytes.size(), reduce)) return 0;
    Capture expected = ShrinkDib(dib, area.right - area.left, area.bottom - area.top);
    free(dib);
    return Psnr(CropCapture(page, area), expected, RECT{0, 0, expected.width, expected.height});
}

// The default printer's dots per inch.
int PrinterDpi() {
    PRINTDLGW defaults = {};
    defaults.lStructSize = sizeof defaults;
    defaults.Flags = PD_RETURNDEFAULT | PD_RETURNDC;
    if (!PrintDlgW(&defaults)) return 0;
    int dpi = GetDeviceCaps(defaults.hDC, LOGPIXELSX);
    DeleteDC(defaults.hDC);
    GlobalFree(defaults.hDevMode);
    GlobalFree(defaults.hDevNames);
    return dpi;
}

class PrintTest : public BrowserSuite {
protected:
    static void SetUpTestSuite() {
        if (!QueueFolder().empty()) MakePictures();
        BrowserSuite::SetUpTestSuite();
    }
    void SetUp() override {
        if (QueueFolder().empty()) GTEST_SKIP() << "no print queue (tools/print-queue.sh)";
        BrowserSuite::SetUp();
    }
    // Opens the document and sends the inputs while the steps answer the
    // dialog and messages they open.
    BrowserFrame* OpenAndSend(const char* document, const char* inputs, const std::vector<UiStep>& steps) {
        BrowserFrame* frame = Open(WorkPath(document), 300, 300);
        if (frame == nullptr || frame->instances.empty()) return nullptr;
        RunModal([&] { EXPECT_TRUE(SendUserInput(frame->instances[0], inputs, 30000)) << inputs; }, steps, 40000);
        return frame;
    }
    // Prints through the dialog as it offers itself; no message may come.
    BrowserFrame* Print(const char* document, const char* inputs) {
        std::vector<std::string> messages;
        BrowserFrame* frame = OpenAndSend(document, inputs, {AnswerPrintDialog(nullptr), AnswerPluginMessage(&messages)});
        for (const std::string& message : messages) ADD_FAILURE() << message;
        return frame;
    }
};

TEST_F(PrintTest, MenuPrintsOnePageTheFittedPictureCentred) {
    std::vector<std::string> before = PdfNames();
    ASSERT_NE(Print("tall.html", "apps p"), nullptr);
    PrintedJob job = WaitForJob(before);
    ASSERT_EQ(1u, job.pages.size());
    EXPECT_NE(std::string::npos, job.pdf.find("/Title(print_tall.j2k)"));
    const Capture& page = job.pages[0];
    ASSERT_LT(page.width, page.height);
    RECT picture = InkBounds(page, RECT{0, 0, page.width, page.height});
    int width = picture.right - picture.left, height = picture.bottom - picture.top;
    // Across the whole width, 4:5 kept, as much white above as below.
    EXPECT_LE(picture.left, 1);
    EXPECT_GE(picture.right, page.width - 1);
    EXPECT_NEAR((double)TallWidth / TallHeight, (double)width / height, 0.01);
    EXPECT_NEAR(picture.top, page.height - picture.bottom, 1);
    EXPECT_GE(CompareWithPicture(page, picture, "print_tall.j2k"), 30.0);
}

TEST_F(PrintTest, CtrlPInAFullPagePrintsAWidePictureAcrossAtItsSizeFromTheLevelItNeeds) {
    std::vector<std::string> before = PdfNames();
    ASSERT_NE(Print("print_wide.jp2", "ctrl+p"), nullptr);
    PrintedJob job = WaitForJob(before);
    ASSERT_EQ(1u, job.pages.size());
    const Capture& page = job.pages[0];
    ASSERT_GT(page.width, page.height);
    RECT picture = InkBounds(page, RECT{0, 0, page.width, page.height});
    // 4 x 2 inches, centred, from the level whose width covers the
    // printer's dots across 4 inches.
    EXPECT_NEAR(4 * RasterDpi, picture.right - picture.left, 2);
    EXPECT_NEAR(2 * RasterDpi, picture.bottom - picture.top, 2);
    EXPECT_NEAR(picture.left, page.width - picture.right, 1);
    EXPECT_NEAR(picture.top, page.height - picture.bottom, 1);
    EXPECT_GE(CompareWithPicture(page, picture, "print_wide.jp2"), 30.0);
    int dpi = PrinterDpi();
    int reduce = ChooseViewReduce(WideWidth, WideHeight, 4 * dpi, 2 * dpi, 0, 5);
    EXPECT_NE(std::string::npos, job.pdf.find("/Width " + std::to_string(WideWidth >> reduce))) << dpi << " dpi";
}

TEST_F(PrintTest, CtrlPInAnEmbeddedElementIsTheBrowsers) {
    BrowserFrame* frame = OpenAndSend("tall.html", "ctrl+p", {});
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(std::vector<std::string>{"ctrl+p"}, frame->browserKeys);
}

// The second queue, chosen in the dialog, is stopped and refuses the job.
TEST_F(PrintTest, AStoppedQueueIsToldOf) {
    std::vector<std::string> messages;
    ASSERT_NE(OpenAndSend("tall.html", "apps p", {AnswerPrintDialog("stopped-pdf"), AnswerPluginMessage(&messages)}),
              nullptr);
    ASSERT_EQ(1u, messages.size());
    EXPECT_EQ("The picture could not be printed: the printer did not accept it (its print queue may be stopped).",
              messages[0]);
}

// Run with no scheduler to reach (CUPS_SERVER naming none): Wine then has no
// printer at all.
TEST_F(PrintTest, NoPrinterIsToldOf) {
    if (getenv("NPKAVREL_NO_PRINTER") == nullptr) GTEST_SKIP() << "printers are installed";
    std::vector<std::string> messages;
    ASSERT_NE(OpenAndSend("tall.html", "apps p", {AnswerPluginMessage(&messages)}), nullptr);
    ASSERT_EQ(1u, messages.size());
    EXPECT_EQ("The picture could not be printed: no printer is installed.", messages[0]);
}

// The in-process host prints the page's elements itself: the picture from
// the level its dots need, and where there is none the reason, framed.
TEST_F(PrintTest, InProcessPrintDrawsEveryElementOntoThePrinterPage) {
    if (browser.host != HostUxpInProcess) GTEST_SKIP() << "only the in-process host prints a plug-in";
    BrowserFrame* frame = Open(WorkPath("npp.html"), 600, 400);
    ASSERT_EQ(2u, frame->instances.size());
    PRINTDLGW defaults = {};
    defaults.lStructSize = sizeof defaults;
    defaults.Flags = PD_RETURNDEFAULT | PD_RETURNDC;
    ASSERT_TRUE(PrintDlgW(&defaults));
    std::vector<std::string> before = PdfNames();
    HDC printer = defaults.hDC;
    int dpi = GetDeviceCaps(printer, LOGPIXELSY);
    DOCINFOW document = {};
    document.cbSize = sizeof document;
    document.lpszDocName = L"npp.html";
    ASSERT_GT(StartDocW(printer, &document), 0);
    StartPage(printer);
    PrintAsHost(frame->instances[0], printer);
    SetViewportOrgEx(printer, 0, 2 * dpi, nullptr);  // two inches down
    PrintAsHost(frame->instances[1], printer);
    EndPage(printer);
    EXPECT_GT(EndDoc(printer), 0);
    DeleteDC(printer);
    GlobalFree(defaults.hDevMode);
    GlobalFree(defaults.hDevNames);
    PrintedJob job = WaitForJob(before);
    ASSERT_EQ(1u, job.pages.size());
    const Capture& page = job.pages[0];
    // The elements' pixels are the printer's dots.
    auto toRaster = [dpi](int dots) { return (dots * RasterDpi + dpi / 2) / dpi; };
    RECT picture = InkBounds(page, RECT{0, 0, page.width, toRaster(2 * dpi)});
    EXPECT_NEAR(toRaster(240), picture.right, 1) << Describe(picture);
    EXPECT_NEAR(toRaster(300), picture.bottom, 1) << Describe(picture);
    EXPECT_GE(CompareWithPicture(page, picture, "print_tall.j2k"), 30.0);
    RECT reason = InkBounds(page, RECT{0, toRaster(2 * dpi), page.width, page.height});
    EXPECT_NEAR(toRaster(2 * dpi), reason.top, 1) << Describe(reason);
    EXPECT_NEAR(toRaster(240), reason.right, 1) << Describe(reason);
    EXPECT_NEAR(toRaster(2 * dpi + 100), reason.bottom, 1) << Describe(reason);
    // A frame, and text inside it.
    RECT inside = {reason.left + 2, reason.top + 2, reason.right - 2, reason.bottom - 2};
    EXPECT_LT(InkBounds(page, inside).left, inside.right);
}

}  // namespace

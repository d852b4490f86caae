// "Print Picture": the system's print dialog, owned by the browser's window
// and offering the orientation that suits the picture, then one page with
// the picture fitted into the printable area (aspect kept, centred), or at
// the size the file states where that fits, from the level the printer's
// dots need. Cancelling does nothing; a failure says why.
#include "commands/commands.h"

#include <cderr.h>
#include <commdlg.h>

#include "decode/jpeg2000.h"
#include "decode/print_layout.h"

namespace {

// How a print ended; every outcome but printed and cancelled is told.
enum PrintOutcome {
    PrintPrinted = 0,
    PrintCancelled,
    PrintNoPrinter,
    PrintRefused,
    PrintNoMemory,
    PrintNoPicture,
};

const UiText NotPrintedFormat = {"The picture could not be printed: %ls.", "画像を印刷できませんでした: %ls。"};
const UiText UnnamedDocument = {"JPEG 2000 picture", "JPEG 2000 画像"};

struct OutcomeReason {
    int outcome;
    UiText reason;
};
// Memory and the picture's own failures are worded by the decoder.
const OutcomeReason OutcomeReasons[] = {
    {PrintNoPrinter, {"no printer is installed", "プリンタがインストールされていません"}},
    {PrintRefused,
     {"the printer did not accept it (its print queue may be stopped)",
      "プリンタが受け付けませんでした (印刷キューが停止している可能性があります)"}},
};

// What the system's dialog errors tell the user; any other means the
// printer could not be reached or set up: it refused.
struct DialogError {
    DWORD code;
    int outcome;
};
const DialogError DialogErrors[] = {
    {PDERR_NODEFAULTPRN, PrintNoPrinter},
    {PDERR_NODEVICES, PrintNoPrinter},
    {CDERR_MEMALLOCFAILURE, PrintNoMemory},
    {CDERR_MEMLOCKFAILURE, PrintNoMemory},
};

// The printer the user chose, with its settings, and why the picture could
// not be had (a DecodeFailure value) when it could not.
struct PrintJob {
    HGLOBAL devMode;
    HGLOBAL devNames;
    HDC dc;
    int pictureFailure;
};

int ChooseDialogOutcome(DWORD code) {
    for (const DialogError& error : DialogErrors) {
        if (error.code == code) return error.outcome;
    }
    return PrintRefused;
}

// The picture's size, levels and stated resolution, read from its header
// here and now (the decodes may not have got to it yet).
int DescribePrintedPicture(PrintedPicture* pictureOut, int* failureOut, const PluginInstance* instance) {
    *pictureOut = PrintedPicture();
    const uint8_t* data = instance->reception.file.data;
    int32_t size = (int32_t)instance->reception.file.length;
    int kind = ClassifyFileKind(data, (uint32_t)size);
    DecodePlan plan;
    if (!PlanDecode(&plan, failureOut, kind, data, size)) return 0;
    PictureResolution resolution;
    ReadPictureResolution(&resolution, kind, data, (uint32_t)size);
    *pictureOut = PrintedPicture{plan.fullWidth, plan.fullHeight, plan.shownReduce, plan.maxReduce,
                                 resolution.pixelsPerMetreX, resolution.pixelsPerMetreY};
    return 1;
}

// The default printer's settings, turned across the paper for a wide
// picture and along it for a tall one: the dialog offers them first. The
// print dialog of this kind cannot give them itself under Wine (it refuses
// PD_RETURNDEFAULT), the older one can on every system.
int TakeDefaultPrinter(PrintJob* job, const PrintedPicture* picture) {
    PRINTDLGW defaults = {};
    defaults.lStructSize = sizeof defaults;
    defaults.Flags = PD_RETURNDEFAULT | PD_NOWARNING;
    if (!PrintDlgW(&defaults)) {
        DWORD code = CommDlgExtendedError();
        return code == 0 ? PrintNoPrinter : ChooseDialogOutcome(code);
    }
    job->devMode = defaults.hDevMode;
    job->devNames = defaults.hDevNames;
    DEVMODEW* settings = (DEVMODEW*)GlobalLock(job->devMode);
    if (settings == NULL) return PrintNoMemory;
    settings->dmOrientation = PrintsAcross(picture) ? DMORIENT_LANDSCAPE : DMORIENT_PORTRAIT;
    settings->dmFields |= DM_ORIENTATION;
    GlobalUnlock(job->devMode);
    return PrintPrinted;
}

// The system's print dialog: printer, copies (made by the driver: the
// picture is one page), the printer's properties.
int AskForPrinter(PrintJob* job, HWND owner) {
    PRINTDLGEXW dialog = {};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.hDevMode = job->devMode;
    dialog.hDevNames = job->devNames;
    dialog.Flags = PD_RETURNDC | PD_NOPAGENUMS | PD_NOSELECTION | PD_NOCURRENTPAGE | PD_USEDEVMODECOPIESANDCOLLATE;
    dialog.nCopies = 1;
    dialog.nStartPage = START_PAGE_GENERAL;
    HRESULT result = PrintDlgExW(&dialog);
    // The dialog may have replaced the settings' blocks.
    job->devMode = dialog.hDevMode;
    job->devNames = dialog.hDevNames;
    job->dc = dialog.hDC;
    if (result == E_OUTOFMEMORY) return PrintNoMemory;
    if (FAILED(result)) return ChooseDialogOutcome(CommDlgExtendedError());
    if (dialog.dwResultAction != PD_RESULT_PRINT) return PrintCancelled;
    return job->dc != NULL ? PrintPrinted : PrintRefused;
}

// The document's name in the print queue: the file's name.
void NameDocument(wchar_t* nameOut, const PluginInstance* instance) {
    char name[MAX_PATH];
    FileNameFromUrl(name, InstanceUrl(instance));
    if (name[0] != 0) {
        AnsiToWide(nameOut, MAX_PATH, name);
    } else {
        StoredTextToWide(nameOut, MAX_PATH, PickText(UnnamedDocument));
    }
}

// One page through the printer's dc; 0 when the printer refused a step.
int PrintOnePage(HDC dc, const wchar_t* name, const RECT* target, const ImageView* view) {
    DOCINFOW document = {};
    document.cbSize = sizeof document;
    document.lpszDocName = name;
    if (StartDocW(dc, &document) <= 0) return 0;
    int printed = StartPage(dc) > 0 && DrawPrintedPicture(dc, target, view) && EndPage(dc) > 0;
    if (!printed) {
        AbortDoc(dc);
        return 0;
    }
    return EndDoc(dc) > 0;
}

int PrintLaidOut(PrintJob* job, PluginInstance* instance, const PrintedPicture* picture) {
    PrinterPage page = {GetDeviceCaps(job->dc, HORZRES), GetDeviceCaps(job->dc, VERTRES),
                        GetDeviceCaps(job->dc, LOGPIXELSX), GetDeviceCaps(job->dc, LOGPIXELSY)};
    PrintLayout layout;
    if (!PlanPrintLayout(&layout, &page, picture)) return PrintRefused;
    ImageView view;
    if (!AcquirePictureLevel(&view, &job->pictureFailure, instance, layout.reduce)) {
        return job->pictureFailure == DecodeFailureOutOfMemory ? PrintNoMemory : PrintNoPicture;
    }
    wchar_t name[MAX_PATH];
    NameDocument(name, instance);
    RECT target = {layout.left, layout.top, layout.left + layout.width, layout.top + layout.height};
    HCURSOR previous = SetCursor(LoadCursorA(NULL, IDC_WAIT));
    int printed = PrintOnePage(job->dc, name, &target, &view);
    SetCursor(previous);
    ReleaseFullPicture(instance);
    return printed ? PrintPrinted : PrintRefused;
}

void TellOutcome(PluginInstance* instance, int outcome, int pictureFailure) {
    if (outcome == PrintPrinted || outcome == PrintCancelled) return;
    // A picture not had: why the command could not decode it, else why the
    // file's own decode failed.
    int failure = outcome == PrintNoMemory ? DecodeFailureOutOfMemory : pictureFailure;
    const char* reason = failure != 0 ? DescribeDecodeFailure(failure, IsJapaneseUi())
                                      : ChooseFailureReason(LoadAcquire(&instance->picture.failureReason));
    for (const OutcomeReason& row : OutcomeReasons) {
        if (row.outcome == outcome) reason = PickText(row.reason);
    }
    wchar_t text[256];
    StoredTextToWide(text, sizeof text / sizeof text[0], reason);
    ShowPluginMessage(instance, UiString(NotPrintedFormat), text);
}

}  // namespace

void PrintPicture(PluginInstance* instance) {
    if (instance == nullptr || LoadAcquire(&instance->reception.loadState) != LoadStateEnded) return;
    PrintJob job = {};
    PrintedPicture picture;
    HWND owner = GetAncestor(instance->window.hwnd, GA_ROOT);
    int outcome = DescribePrintedPicture(&picture, &job.pictureFailure, instance) ? PrintPrinted : PrintNoPicture;
    if (outcome == PrintPrinted) outcome = TakeDefaultPrinter(&job, &picture);
    if (outcome == PrintPrinted) outcome = AskForPrinter(&job, owner != NULL ? owner : instance->window.hwnd);
    // The page the picture was chosen on may have gone while the dialog was up.
    if (outcome == PrintPrinted && InstanceDestroyed(instance)) outcome = PrintCancelled;
    if (outcome == PrintPrinted) outcome = PrintLaidOut(&job, instance, &picture);
    if (job.dc != NULL) DeleteDC(job.dc);
    if (job.devMode != NULL) GlobalFree(job.devMode);
    if (job.devNames != NULL) GlobalFree(job.devNames);
    TellOutcome(instance, outcome, job.pictureFailure);
}

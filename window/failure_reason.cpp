// The second line of the status box after a failure: why there is no
// picture, in the interface language.
#include "decode/jpeg2000.h"
#include "host/plugin.h"
#include "window/display.h"

namespace {

// English words come from the decoder, so that j2k2bmp gives the same
// reasons; the Japanese ones are the plug-in's own.
struct ReasonText {
    int32_t reason;
    const char* japanese;
};
const ReasonText ReasonTexts[] = {
    {DecodeFailureNotJpeg2000, "JPEG 2000 ファイルではありません"},
    {DecodeFailureKindNotDecoded, "このプラグインが表示しない種類の JPEG 2000 ファイルです (3次元)"},
    {DecodeFailureCorrupt, "ファイルが壊れているか、途中で切れています"},
    {DecodeFailureTooLarge, "このプラグインには大きすぎます"},
    {DecodeFailureOutOfMemory, "メモリが不足しています"},
    {FailureInterrupted, "ダウンロードが中断されました"},
};
const char InterruptedEnglish[] = "the download was interrupted";
const char UnknownJapanese[] = "デコードできません";

}  // namespace

const char* ChooseFailureReason(int32_t reason) {
    if (!IsJapaneseUi()) return reason == FailureInterrupted ? InterruptedEnglish : DescribeDecodeFailure(reason);
    for (const ReasonText& row : ReasonTexts) {
        if (row.reason == reason) return row.japanese;
    }
    return UnknownJapanese;
}

void PaintFailureReason(HDC dc, const RECT* area, const PluginInstance* record) {
    if (!LoadAcquire(&record->decodeError)) return;
    wchar_t text[256];
    StoredTextToWide(text, 256, ChooseFailureReason(LoadAcquire(&record->failureReason)));
    RECT line = *area;
    DrawTextW(dc, text, -1, &line, DT_WORDBREAK);
}

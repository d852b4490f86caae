// Why a decode failed, in the words both the plug-in and j2k2bmp give: one
// row per reason in both languages, so that a new reason is worded once.
#include "jpeg2000.h"

namespace {

struct FailureText {
    int failure;
    const char* english;
    const char* japanese;
};

const FailureText FailureTexts[] = {
    {DecodeFailureNotJpeg2000, "not a JPEG 2000 file", "JPEG 2000 ファイルではありません"},
    {DecodeFailureKindNotDecoded, "a kind of JPEG 2000 file this plug-in does not show (3-D)",
     "このプラグインが表示しない種類の JPEG 2000 ファイルです (3次元)"},
    {DecodeFailureCorrupt, "damaged or truncated", "ファイルが壊れているか、途中で切れています"},
    {DecodeFailureTooLarge, "too large for this plug-in", "このプラグインには大きすぎます"},
    {DecodeFailureOutOfMemory, "out of memory", "メモリが不足しています"},
    {DecodeFailureDecoderStopped, "the decoder stopped on this file", "このファイルでデコーダーが停止しました"},
    {DecodeFailureTimedOut, "decoding took too long and was stopped", "デコードに時間がかかりすぎたため中止しました"},
};
const FailureText UnknownFailure = {DecodeFailureNone, "cannot be decoded", "デコードできません"};

}  // namespace

const char* DescribeDecodeFailure(int failure, int japanese) {
    const FailureText* found = &UnknownFailure;
    for (const FailureText& entry : FailureTexts) {
        if (entry.failure == failure) found = &entry;
    }
    return japanese ? found->japanese : found->english;
}

// About's "Decoder:" line: where decoding runs and which confinement the
// system accepted for the decoder processes, or why it runs in the browser's.
#include <wchar.h>

#include "host/decoder_pool.h"
#include "host/plugin.h"

namespace {

const UiText DecoderLine = {"Decoder:\t%ls\r\n", "デコーダー:\t%ls\r\n"};
const UiText SeparateProcess = {"separate %d-bit process", "別の %d ビットプロセス"};
const UiText InBrowser = {"in the browser's process (%ls)", "ブラウザーのプロセス内 (%ls)"};

struct AbsenceText {
    int32_t absence;
    UiText reason;
};
const AbsenceText AbsenceTexts[] = {
    {DecoderNotStarted, {"the decoder is starting", "デコーダーを起動中"}},
    {DecoderMissing, {"npkavrel-decoder.exe is not beside the plug-in", "プラグインと同じフォルダーに npkavrel-decoder.exe がありません"}},
    {DecoderRefused, {"the system refused to start the decoder", "システムがデコーダーの起動を拒否しました"}},
    {DecoderSilent, {"the decoder did not start", "デコーダーが起動しませんでした"}},
};

// The confinements in the order shown, each under its group's heading.
struct ConfinementText {
    uint32_t bit;
    int group;  // 0 token, 1 job object, 2 the decoder's own mitigations
    UiText name;
};
const ConfinementText ConfinementTexts[] = {
    {ConfinedRestrictedToken, 0, {"restricted token", "制限付きトークン"}},
    {ConfinedLowIntegrity, 0, {"low integrity", "低い整合性レベル"}},
    {ConfinedJobKillOnClose, 1, {"kill on close", "終了時に強制終了"}},
    {ConfinedJobOneProcess, 1, {"1 process", "1 プロセス"}},
    {ConfinedJobMemoryLimit, 1, {"memory limit", "メモリ制限"}},
    {ConfinedJobUiLimits, 1, {"UI limits", "UI 制限"}},
    {ConfinedNoDynamicCode, 2, {"no dynamic code", "動的コード禁止"}},
    {ConfinedStrictHandles, 2, {"strict handles", "厳格なハンドル検査"}},
    {ConfinedNoExtensionPoints, 2, {"no extension points", "拡張ポイント無効"}},
    {ConfinedImageLoads, 2, {"image loads limited", "イメージ読み込み制限"}},
};
const UiText GroupHeadings[3] = {{"", ""}, {"job: ", "ジョブ: "}, {"mitigations: ", "緩和策: "}};

void Append(wchar_t* text, size_t count, const wchar_t* piece) {
    size_t used = wcslen(text);
    if (used + 1 < count) wcsncat(text, piece, count - 1 - used);
}

void AppendConfinement(wchar_t* text, size_t count, uint32_t confinement) {
    int lastGroup = -1;
    for (const ConfinementText& row : ConfinementTexts) {
        if (!(confinement & row.bit)) continue;
        Append(text, count, row.group == lastGroup ? L", " : L"; ");
        if (row.group != lastGroup) Append(text, count, UiString(GroupHeadings[row.group]));
        Append(text, count, UiString(row.name));
        lastGroup = row.group;
    }
}

}  // namespace

void DescribeDecoderPlace(wchar_t* textOut, size_t count) {
    DecoderReport report;
    ReadDecoderReport(&report);
    wchar_t place[512];
    if (report.absence == DecoderPresent) {
        FormatText(place, sizeof place / sizeof place[0], UiString(SeparateProcess), (int)report.bits);
        AppendConfinement(place, sizeof place / sizeof place[0], report.confinement);
    } else {
        const wchar_t* reason = L"";
        for (const AbsenceText& row : AbsenceTexts) {
            if (row.absence == report.absence) reason = UiString(row.reason);
        }
        FormatText(place, sizeof place / sizeof place[0], UiString(InBrowser), reason);
    }
    FormatText(textOut, count, UiString(DecoderLine), place);
}

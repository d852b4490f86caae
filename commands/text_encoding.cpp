// Guessing the encoding of comment bytes and converting them to UTF-16 with
// the Windows conversion functions.
#include "commands/text_encoding.h"

#include <stdlib.h>
#include <windows.h>

namespace {

// How the Shift_JIS scan reacts to one position's class value.
struct ScanRule {
    uint32_t classValue;
    uint32_t step;
    int verdict;    // 1 sets the verdict, 0 clears it, -1 leaves it
    bool ambiguous; // marks the text as undecidable
};

const ScanRule ScanRules[] = {
    {0, 1, -1, false},
    {SjisSingleKana, 1, 1, false},
    {SjisDoubleByte, 2, 1, false},
    {EucKana, 2, 0, false},
    {EucDoubleByte, 2, 0, false},
    {SjisSingleKana | EucDoubleByte, 2, -1, true},
    {JisEscapeB, 4, 0, false},
    {JisEscapeAt, 4, 0, false},
};
const ScanRule OtherClassRule = {0, 2, -1, false};

const ScanRule* FindScanRule(uint32_t classValue) {
    for (const ScanRule& rule : ScanRules) {
        if (rule.classValue == classValue) return &rule;
    }
    return &OtherClassRule;
}

bool InRange(uint8_t value, uint8_t low, uint8_t high) { return value >= low && value <= high; }

}  // namespace

bool IsSevenBitText(const uint8_t* bytes, uint32_t length) {
    if (bytes == nullptr) return false;
    for (uint32_t i = 0; i < length; i++) {
        if (bytes[i] > 0x7F) return false;
    }
    return true;
}

bool StartsWithByteOrderMark(const uint8_t* bytes, uint32_t length) {
    return bytes != nullptr && length >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF;
}

uint32_t ClassifyJapaneseBytes(const uint8_t* position) {
    uint8_t b0 = position[0];
    if (b0 == 0x1B) {
        if (position[1] != 0x24) return 0;
        if (position[2] == 0x42) return JisEscapeB;
        if (position[2] == 0x40) return JisEscapeAt;
        return 0;
    }
    uint8_t b1 = position[1];
    uint32_t result = 0;
    if (InRange(b0, 0xA0, 0xDF)) result |= SjisSingleKana;
    if ((InRange(b0, 0x81, 0x9F) || InRange(b0, 0xE0, 0xFC)) && InRange(b1, 0x40, 0xFC) && b1 != 0x7F) {
        result |= SjisDoubleByte;
    }
    if (b0 == 0x8E && InRange(b1, 0xA0, 0xDF)) result |= EucKana;
    if (InRange(b0, 0xA1, 0xFE) && b1 >= 0xA1) result |= EucDoubleByte;
    return result;
}

bool LooksLikeShiftJis(const uint8_t* bytes, uint32_t length) {
    if (bytes == nullptr) return false;
    if (length == 0) return true;
    bool verdict = true;
    bool ambiguous = false;
    uint32_t offset = 0;
    while (bytes[offset] != 0) {
        const ScanRule* rule = FindScanRule(ClassifyJapaneseBytes(bytes + offset));
        if (rule->verdict >= 0) verdict = rule->verdict == 1;
        if (rule->ambiguous) ambiguous = true;
        offset += rule->step;
        if (offset >= length) break;
    }
    return verdict && !ambiguous;
}

bool DecodesCleanly(const uint8_t* bytes, uint32_t length, CodePage codePage) {
    if (bytes == nullptr || length == 0 || length > INT32_MAX) return false;
    return MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, (const char*)bytes, (int)length, nullptr, 0) > 0;
}

CodePage DetectTextCodePage(const uint8_t* bytes, uint32_t length) {
    if (bytes == nullptr) return CodePageNone;
    if (length == 0 || IsSevenBitText(bytes, length)) return CodePageOem;
    if (StartsWithByteOrderMark(bytes, length)) return CodePageUtf8;
    // Valid UTF-8 outside 7-bit is almost never anything else, while many
    // UTF-8 sequences also pass the Shift_JIS scan: UTF-8 is tried first.
    if (DecodesCleanly(bytes, length, CodePageUtf8)) return CodePageUtf8;
    if (LooksLikeShiftJis(bytes, length) && DecodesCleanly(bytes, length, CodePageShiftJis)) return CodePageShiftJis;
    return GetACP();
}

uint32_t WideCharCount(const char* text, CodePage codePage) {
    if (text == nullptr) return 0;
    int count = MultiByteToWideChar(codePage, 0, text, -1, nullptr, 0);
    return count > 0 ? (uint32_t)count : 0;
}

bool ToWide(wchar_t* wideOut, const char* text, CodePage codePage) {
    if (wideOut == nullptr || text == nullptr) return false;
    uint32_t count = WideCharCount(text, codePage);
    if (count == 0) return false;
    int written = MultiByteToWideChar(codePage, 0, text, -1, wideOut, (int)count);
    return written > 0 && (uint32_t)written >= count;
}

wchar_t* NewWideText(const char* text, CodePage codePage) {
    uint32_t count = WideCharCount(text, codePage);
    if (count == 0 || count > SIZE_MAX / sizeof(wchar_t)) return nullptr;
    wchar_t* wide = (wchar_t*)malloc((size_t)count * sizeof(wchar_t));
    if (wide == nullptr) return nullptr;
    if (!ToWide(wide, text, codePage)) {
        free(wide);
        return nullptr;
    }
    return wide;
}

// Text-encoding detection of codestream comments (7-bit, UTF-8, Shift_JIS,
// else the system code page) and their conversion to UTF-16.
#ifndef COMMANDS_TEXT_ENCODING_H
#define COMMANDS_TEXT_ENCODING_H

#include <stdint.h>
#include <wchar.h>

typedef uint32_t CodePage;

enum {
    CodePageNone = 0,
    CodePageOem = 437,
    CodePageShiftJis = 932,
    CodePageUtf8 = 65001,
};

// Bits describing the bytes at one text position (a third byte for escapes).
enum {
    SjisSingleKana = 1,
    SjisDoubleByte = 2,
    EucKana = 4,
    EucDoubleByte = 8,
    JisEscapeB = 16,
    JisEscapeAt = 32,
};

// Reads bytes[0..length-1]; LooksLikeShiftJis and ClassifyJapaneseBytes may
// look up to two bytes past the last counted one (comment buffers carry
// padding after their terminator) and stop at a zero byte.
// DetectTextCodePage: 0 for no bytes; 437 for 7-bit text;
// UTF-8 with a byte-order mark or when the bytes are valid UTF-8; Shift_JIS
// when they pass the scan and are valid Shift_JIS; else the system's ANSI
// code page (GetACP()).
CodePage DetectTextCodePage(const uint8_t* bytes, uint32_t length);
bool DecodesCleanly(const uint8_t* bytes, uint32_t length, CodePage codePage);
bool IsSevenBitText(const uint8_t* bytes, uint32_t length);
// The UTF-8 byte-order mark EF BB BF at the start.
bool StartsWithByteOrderMark(const uint8_t* bytes, uint32_t length);
bool LooksLikeShiftJis(const uint8_t* bytes, uint32_t length);
uint32_t ClassifyJapaneseBytes(const uint8_t* position);

// Conversions of zero-terminated texts; counts include the terminator.
uint32_t WideCharCount(const char* text, CodePage codePage);
bool ToWide(wchar_t* wideOut, const char* text, CodePage codePage);
// The UTF-16 form in a malloc'ed block the caller frees; null when the text
// cannot be converted or the block not allocated.
wchar_t* NewWideText(const char* text, CodePage codePage);

#endif

// Text-encoding detection of codestream comments (7-bit, UTF-8, Shift_JIS)
// and conversion between code pages through UTF-16.
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
CodePage DetectTextCodePage(const uint8_t* bytes, uint32_t length);
bool IsSevenBitText(const uint8_t* bytes, uint32_t length);
bool LooksLikeShiftJis(const uint8_t* bytes, uint32_t length);
uint32_t ClassifyJapaneseBytes(const uint8_t* position);

// Conversions of zero-terminated texts; counts include the terminator.
uint32_t WideCharCount(const char* text, CodePage codePage);
bool ToWide(wchar_t* wideOut, const char* text, CodePage codePage);
uint32_t NarrowByteCount(const wchar_t* wide, CodePage codePage);
bool ToNarrow(char* textOut, const wchar_t* wide, CodePage codePage);
uint32_t ConvertedTextSize(CodePage targetCodePage, const char* text, CodePage sourceCodePage);
bool ConvertText(char* textOut, CodePage targetCodePage, const char* text, CodePage sourceCodePage);

#endif

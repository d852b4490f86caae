// Encoding detection of comment bytes and the code-page conversions.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include <string>
#include <vector>

#include "commands/text_encoding.h"

namespace {

// Comment bytes as the decoder leaves them: terminated, then nine more zero
// bytes that the scan may look at.
std::vector<uint8_t> Padded(const std::string& bytes) {
    std::vector<uint8_t> buffer(bytes.begin(), bytes.end());
    buffer.resize(bytes.size() + 10, 0);
    return buffer;
}

TEST(TextEncoding, ClassifiesJapaneseBytePairs) {
    struct ClassCase {
        const char* bytes;
        uint32_t expected;
    };
    const ClassCase cases[] = {
        {"AB", 0},
        {"\xB1" "A", SjisSingleKana},
        {"\xA0", SjisSingleKana},
        {"\x82\xA0", SjisDoubleByte},
        {"\xE0@", SjisDoubleByte},
        {"\x81\x7F", 0},
        {"\x81\x3F", 0},
        {"\x8E\xB1", SjisDoubleByte | EucKana},
        {"\x8E\xE0", SjisDoubleByte},
        {"\xA4\xA2", SjisSingleKana | EucDoubleByte},
        {"\xDF\xA1", SjisSingleKana | EucDoubleByte},
        {"\xE0\xA1", SjisDoubleByte | EucDoubleByte},
        {"\xFD\xA1", EucDoubleByte},
        {"\xE0\xFD", EucDoubleByte},
        {"\x1B$B", JisEscapeB},
        {"\x1B$@", JisEscapeAt},
        {"\x1B$A", 0},
        {"\x1B\xA4\xA2", 0},
    };
    for (const ClassCase& classCase : cases) {
        std::vector<uint8_t> bytes = Padded(classCase.bytes);
        EXPECT_EQ(ClassifyJapaneseBytes(bytes.data()), classCase.expected) << testing::PrintToString(bytes);
    }
}

TEST(TextEncoding, ShiftJisScanKeepsTheLastVerdictAndRejectsAmbiguity) {
    struct ScanCase {
        std::string bytes;
        uint32_t length;
        bool expected;
    };
    const ScanCase cases[] = {
        {"\x82\xA0", 2, true},
        {"\xA4\xA2\xA4\xA4", 4, false},                 // EUC-JP: a class-9 pair
        {"\xE3\x81\x82", 3, true},                      // UTF-8 that happens to pass
        {"\xFD\xA1\x82\xA0", 4, true},                  // a later Shift_JIS pair overrules
        {"\x82\xA0\xFD\xA1", 4, false},                 // a later EUC-only pair overrules
        {"\x82\xA0\xA4\xA2\x82\xA0", 6, false},         // one ambiguous pair anywhere
        {"\x1B$B0!\x1B(B", 8, false},                   // ISO-2022-JP
        {std::string("\x82\xA0\0\xFD\xA1", 5), 5, true}, // a zero byte ends the scan
        {"\x82\xA0\xFD\xA1", 2, true},                  // so does the length
        {"plain", 5, true},
    };
    for (const ScanCase& scanCase : cases) {
        std::vector<uint8_t> bytes = Padded(scanCase.bytes);
        EXPECT_EQ(LooksLikeShiftJis(bytes.data(), scanCase.length), scanCase.expected)
            << testing::PrintToString(bytes);
    }
    EXPECT_FALSE(LooksLikeShiftJis(nullptr, 3));
    std::vector<uint8_t> empty = Padded("");
    EXPECT_TRUE(LooksLikeShiftJis(empty.data(), 0));
}

TEST(TextEncoding, SevenBitTestLooksAtEveryCountedByte) {
    std::vector<uint8_t> ascii = Padded("abc\x7F");
    EXPECT_TRUE(IsSevenBitText(ascii.data(), 4));
    std::vector<uint8_t> high = Padded(std::string("a\0\x80", 3));
    EXPECT_FALSE(IsSevenBitText(high.data(), 3));
    EXPECT_TRUE(IsSevenBitText(high.data(), 2));
    EXPECT_TRUE(IsSevenBitText(high.data(), 0));
    EXPECT_FALSE(IsSevenBitText(nullptr, 0));
}

TEST(TextEncoding, DetectsCodePageInOrder) {
    struct DetectCase {
        std::string bytes;
        CodePage expected;
    };
    const CodePage system = GetACP();
    const DetectCase cases[] = {
        {"", CodePageOem},
        {"A", CodePageOem},
        {"Created by a camera\r\n", CodePageOem},
        {"\xEF\xBB\xBF", CodePageUtf8},
        {"\xEF\xBB\xBF\x82\xA0", CodePageUtf8},  // the mark wins over a Shift_JIS look
        {"\xE6\x97\xA5\xE6\x9C\xAC", CodePageUtf8},
        {"\xE3\x81\x82", CodePageUtf8},  // passes the Shift_JIS scan too
        {"caf\xC3\xA9", CodePageUtf8},
        {"\x93\xFA\x96\x7B\x8C\xEA", CodePageShiftJis},
        {"\xB1" "A", CodePageShiftJis},  // a half-width katakana
        {"\xC6\xFC\xCB\xDC\xB8\xEC", system},  // EUC-JP
        {"caf\xE9 cr\xE8me", system},  // Latin-1: neither UTF-8 nor Shift_JIS
        {"\xE9", system},  // one byte, a lead byte without its trail
        {std::string("ab\0\xE9", 4), system},
        {"\xC0\xAF", system},  // an overlong form is no UTF-8
    };
    for (const DetectCase& detectCase : cases) {
        std::vector<uint8_t> bytes = Padded(detectCase.bytes);
        EXPECT_EQ(DetectTextCodePage(bytes.data(), (uint32_t)detectCase.bytes.size()), detectCase.expected)
            << testing::PrintToString(bytes);
    }
    EXPECT_EQ(DetectTextCodePage(nullptr, 4), CodePageNone);
}

TEST(TextEncoding, CountsIncludeTheTerminator) {
    EXPECT_EQ(WideCharCount("abc", CodePageOem), 4u);
    EXPECT_EQ(WideCharCount("\xE6\x97\xA5", CodePageUtf8), 2u);
    EXPECT_EQ(WideCharCount(nullptr, CodePageUtf8), 0u);
    wchar_t wide[8];
    EXPECT_TRUE(ToWide(wide, "\x93\xFA\x96\x7B", CodePageShiftJis));
    EXPECT_EQ(std::wstring(wide), L"\x65e5\x672c");
    EXPECT_FALSE(ToWide(nullptr, "a", CodePageOem));
}

TEST(TextEncoding, ConvertsToUtf16) {
    struct ConvertCase {
        std::string text;
        CodePage source;
        std::wstring expected;
    };
    const std::string longText(1000, 'x');
    const ConvertCase cases[] = {
        {"\xE6\x97\xA5\xE6\x9C\xAC", CodePageUtf8, L"\x65e5\x672c"},
        {"\x93\xFA\x96\x7B", CodePageShiftJis, L"\x65e5\x672c"},
        {"\x82", CodePageOem, L"\xe9"},  // code page 437's e-acute
        {"", CodePageUtf8, L""},
        {longText + "\xC3\xA9", CodePageUtf8, std::wstring(1000, L'x') + L"\xe9"},
    };
    for (const ConvertCase& convertCase : cases) {
        wchar_t* wide = NewWideText(convertCase.text.c_str(), convertCase.source);
        ASSERT_NE(wide, nullptr);
        EXPECT_EQ(std::wstring(wide), convertCase.expected);
        free(wide);
    }
}

TEST(TextEncoding, UnavailableCodePageConvertsNothing) {
    const CodePage missing = 12345;
    EXPECT_EQ(WideCharCount("abc", missing), 0u);
    EXPECT_EQ(NewWideText("abc", missing), nullptr);
    EXPECT_EQ(NewWideText(nullptr, CodePageUtf8), nullptr);
}

}  // namespace

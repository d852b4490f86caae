// Two-language texts shown as UTF-16, and the small text helpers shared by
// every folder.
#include <limits.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "host/host_internal.h"

namespace {

// The stored texts are Shift_JIS, of which ASCII is a part.
const UINT StoredCodePage = 932;

// Every converted text lives in one of these blocks until the module is
// unloaded; UiText::wide points into them.
struct WideBlock {
    WideBlock* next;
    wchar_t text[1];
};
WideBlock* WideBlocks = nullptr;

// Bytes of a stored text with its terminator; for a list, every text of
// the run and the empty one that closes it.
size_t StoredSize(const char* text, bool list) {
    size_t size = strlen(text) + 1;
    if (!list) return size;
    while (text[size] != 0) size += strlen(text + size) + 1;
    return size + 1;
}

const wchar_t* Widen(const UiText& text, bool list) {
    int language = IsJapaneseUi() ? 1 : 0;
    if (text.wide[language] != nullptr) return text.wide[language];
    const char* stored = language ? text.japanese : text.english;
    if (stored == nullptr) return L"";
    size_t size = StoredSize(stored, list);
    if (size > (size_t)INT_MAX) return L"";
    int count = MultiByteToWideChar(StoredCodePage, 0, stored, (int)size, nullptr, 0);
    // Without the Shift_JIS tables the bytes are widened one by one: English
    // still reads right.
    bool widenBytes = count <= 0;
    if (widenBytes) count = (int)size;
    if ((size_t)count > (SIZE_MAX - sizeof(WideBlock)) / sizeof(wchar_t)) return L"";
    WideBlock* block = (WideBlock*)malloc(sizeof(WideBlock) + (size_t)count * sizeof(wchar_t));
    if (block == nullptr) return L"";
    if (widenBytes) {
        for (int i = 0; i < count; i++) block->text[i] = (wchar_t)(unsigned char)stored[i];
    } else {
        MultiByteToWideChar(StoredCodePage, 0, stored, (int)size, block->text, count);
    }
    block->next = WideBlocks;
    WideBlocks = block;
    text.wide[language] = block->text;
    return block->text;
}

// The whole text converted, then cut to count - 1 units.
void BytesToWide(wchar_t* textOut, size_t count, const char* text, UINT codePage) {
    if (count == 0) return;
    textOut[0] = 0;
    if (text == nullptr || count > (size_t)INT_MAX) return;
    if (MultiByteToWideChar(codePage, 0, text, -1, textOut, (int)count) > 0) return;
    int needed = MultiByteToWideChar(codePage, 0, text, -1, nullptr, 0);
    wchar_t* whole = needed > 0 ? (wchar_t*)malloc((size_t)needed * sizeof(wchar_t)) : nullptr;
    bool converted = whole != nullptr && MultiByteToWideChar(codePage, 0, text, -1, whole, needed) > 0;
    if (converted) memcpy(textOut, whole, (count - 1) * sizeof(wchar_t));
    textOut[converted ? count - 1 : 0] = 0;
    free(whole);
}

}  // namespace

const wchar_t* UiString(const UiText& text) { return Widen(text, false); }

const wchar_t* UiStringList(const UiText& text) { return Widen(text, true); }

void ReleaseUiStrings() {
    while (WideBlocks != nullptr) {
        WideBlock* next = WideBlocks->next;
        free(WideBlocks);
        WideBlocks = next;
    }
}

void FormatTextV(wchar_t* textOut, size_t count, const wchar_t* format, va_list arguments) {
    if (count == 0) return;
    // _vsnwprintf leaves a cut text unterminated: the last place is kept for
    // the terminator.
    int written = _vsnwprintf(textOut, count - 1, format, arguments);
    textOut[written >= 0 && (size_t)written < count ? (size_t)written : count - 1] = 0;
}

void FormatText(wchar_t* textOut, size_t count, const wchar_t* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    FormatTextV(textOut, count, format, arguments);
    va_end(arguments);
}

void AnsiToWide(wchar_t* textOut, size_t count, const char* text) { BytesToWide(textOut, count, text, CP_ACP); }

void StoredTextToWide(wchar_t* textOut, size_t count, const char* stored) {
    BytesToWide(textOut, count, stored, StoredCodePage);
}

void CopyBounded(char* destination, size_t size, const char* source) {
    size_t length = source ? strnlen(source, size - 1) : 0;
    memcpy(destination, source ? source : "", length);
    destination[length] = 0;
}

bool EqualsIgnoringAsciiCase(const char* left, const char* right) {
    for (;; ++left, ++right) {
        char a = (*left >= 'A' && *left <= 'Z') ? (char)(*left + 32) : *left;
        char b = (*right >= 'A' && *right <= 'Z') ? (char)(*right + 32) : *right;
        if (a != b) {
            return false;
        }
        if (a == 0) {
            return true;
        }
    }
}

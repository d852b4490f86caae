// Small text helpers shared by every folder.
#include <string.h>

#include "host/plugin.h"

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

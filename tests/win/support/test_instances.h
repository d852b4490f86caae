// Plug-in instances for unit-level tests: made as NPP_New leaves them and
// filled as a complete stream and its decode would, from real files. Every
// program that links them starts the plug-in in the stand-in browser first.
#ifndef TESTS_WIN_SUPPORT_TEST_INSTANCES_H
#define TESTS_WIN_SUPPORT_TEST_INSTANCES_H

#include <stdint.h>

#include <string>
#include <vector>

#include "stand_in_browser.h"
#include "test_files.h"

// A zero-filled instance as NPP_New leaves it, attached to `window`.
PluginInstance* NewTestInstance(HWND window);
void FreeTestInstance(PluginInstance* instance);
// Gives the instance the address its stream would have had.
void SetTestUrl(PluginInstance* instance, const std::string& url);

// Fills the instance as a complete stream of the conformance file `name`
// and its decode leave it: data, kind, image, comments, loadState ended.
bool LoadConformanceImage(PluginInstance* instance, const char* name);
// In a test or its SetUp: LoadConformanceImage asserted, or the test
// skipped where the shared conformance files are absent (a clone without
// the shared folder beside it).
#define LOAD_CONFORMANCE_IMAGE_OR_SKIP(instance, name)                                         \
    do {                                                                                       \
        if (!FileExists(ConformancePath(name))) {                                              \
            GTEST_SKIP() << "conformance data absent: " << ConformancePath("");                \
        }                                                                                      \
        ASSERT_TRUE(LoadConformanceImage(instance, name));                                     \
    } while (0)
// The same for any file; the URL ends in `urlName`.
bool LoadImageFile(PluginInstance* instance, const char* path, const char* urlName);
// As a decode that failed leaves it: the bytes kept, no image.
void FailTestDecode(PluginInstance* instance);

// A text of the tests, stored like the plug-in's (Shift_JIS), as UTF-16.
std::wstring StoredText(const char* text);

#endif

// Test instances filled from real files, and the plug-in started in the
// stand-in browser, with the resources linked into the test program.
#include "test_instances.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "decode/jpeg2000.h"

namespace {

class StandInBrowserEnvironment : public ::testing::Environment {
public:
    void SetUp() override { StartPlugin(); }
};
::testing::Environment* const TheStandInBrowser = ::testing::AddGlobalTestEnvironment(new StandInBrowserEnvironment);

}  // namespace

PluginInstance* NewTestInstance(HWND window) {
    PluginInstance* instance = (PluginInstance*)calloc(1, sizeof(PluginInstance));
    instance->element.mode = NP_EMBED;
    instance->window.hwnd = window;
    instance->picture.fileKind = 255;
    strcpy(instance->element.target, "_self");
    return instance;
}

void SetTestUrl(PluginInstance* instance, const std::string& url) {
    free(instance->reception.url);
    instance->reception.url = _strdup(url.c_str());
}

void FreeTestInstance(PluginInstance* instance) {
    if (instance == nullptr) return;
    free(instance->reception.url);
    ReleaseBytesView(&instance->reception.file);
    free(instance->picture.dib);
    free(instance->picture.comments);
    free(instance);
}

bool LoadConformanceImage(PluginInstance* instance, const char* name) {
    return LoadImageFile(instance, ConformancePath(name).c_str(), name);
}

bool LoadImageFile(PluginInstance* instance, const char* path, const char* urlName) {
    std::vector<uint8_t> bytes = FileBytes(path);
    if (bytes.empty()) return false;
    ReceivedBytes store;
    OpenReceivedBytes(&store, (uint32_t)bytes.size());
    bool stored = WriteReceivedBytes(&store, 0, bytes.data(), (uint32_t)bytes.size()) &&
                  TakeBytesView(&instance->reception.file, &store, store.length);
    CloseReceivedBytes(&store);
    if (!stored) return false;
    const BytesView& file = instance->reception.file;
    SetTestUrl(instance, std::string("http://images.example/conformance/") + urlName);
    instance->picture.fileKind = ClassifyFileKind(file.data, file.length);
    uint8_t* dib = nullptr;
    if (!DecodeToPackedDib(&dib, file.data, (int32_t)file.length)) return false;
    instance->picture.dib = dib;
    instance->picture.dibHeader = (BITMAPINFOHEADER*)dib;
    instance->picture.dibBits = (uint8_t*)PackedDibBits(dib);
    ExtractCodestreamComments(&instance->picture.comments, &instance->picture.commentsLength, file.data, file.length);
    instance->reception.loadState = LoadStateEnded;
    return true;
}

void FailTestDecode(PluginInstance* instance) {
    free(instance->picture.dib);
    instance->picture.dib = nullptr;
    instance->picture.dibHeader = nullptr;
    instance->picture.dibBits = nullptr;
    instance->picture.decodeError = 1;
}

std::wstring StoredText(const char* text) {
    wchar_t wide[4096] = L"";
    MultiByteToWideChar(932, 0, text, -1, wide, 4096);
    return wide;
}

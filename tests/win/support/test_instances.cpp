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
    instance->mode = NP_EMBED;
    instance->hwnd = window;
    instance->fitToWindow = 1;
    instance->fileKind = 255;
    strcpy(instance->target, "_self");
    return instance;
}

void SetTestUrl(PluginInstance* instance, const std::string& url) {
    free(instance->url);
    instance->url = _strdup(url.c_str());
}

void FreeTestInstance(PluginInstance* instance) {
    if (instance == nullptr) return;
    free(instance->url);
    free(instance->data);
    free(instance->dib);
    free(instance->comments);
    free(instance);
}

bool LoadConformanceImage(PluginInstance* instance, const char* name) {
    return LoadImageFile(instance, ConformancePath(name).c_str(), name);
}

bool LoadImageFile(PluginInstance* instance, const char* path, const char* urlName) {
    std::vector<uint8_t> bytes = FileBytes(path);
    if (bytes.empty()) return false;
    instance->data = (uint8_t*)malloc(bytes.size());
    memcpy(instance->data, bytes.data(), bytes.size());
    instance->dataSize = instance->dataLength = instance->dataCapacity = (int32_t)bytes.size();
    SetTestUrl(instance, std::string("http://images.example/conformance/") + urlName);
    instance->fileKind = ClassifyFileKind(instance->data, (uint32_t)instance->dataSize);
    uint8_t* dib = nullptr;
    if (!DecodeToPackedDib(&dib, instance->data, instance->dataSize)) return false;
    instance->dib = dib;
    instance->dibHeader = (BITMAPINFOHEADER*)dib;
    instance->dibBits = dib + 40 + PackedDibPaletteSize(dib);
    ExtractCodestreamComments(&instance->comments, &instance->commentsLength, instance->data,
                              (uint32_t)instance->dataSize);
    instance->loadState = LoadStateEnded;
    return true;
}

void FailTestDecode(PluginInstance* instance) {
    free(instance->dib);
    instance->dib = nullptr;
    instance->dibHeader = nullptr;
    instance->dibBits = nullptr;
    instance->decodeError = 1;
}

std::wstring StoredText(const char* text) {
    wchar_t wide[4096] = L"";
    MultiByteToWideChar(932, 0, text, -1, wide, 4096);
    return wide;
}

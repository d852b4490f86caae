// Files and bytes for every test program.
#include "test_files.h"

#include <stdio.h>

#include "decode/jpeg2000.h"

bool ReadFileBytes(const std::string& path, std::vector<uint8_t>* out) {
    out->clear();
    FILE* file = fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    uint8_t chunk[65536];
    size_t count;
    while ((count = fread(chunk, 1, sizeof chunk, file)) > 0) out->insert(out->end(), chunk, chunk + count);
    bool complete = ferror(file) == 0;
    fclose(file);
    if (!complete) out->clear();
    return complete;
}

std::vector<uint8_t> FileBytes(const std::string& path) {
    std::vector<uint8_t> bytes;
    ReadFileBytes(path, &bytes);
    return bytes;
}

std::string FileText(const std::string& path) {
    std::vector<uint8_t> bytes = FileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

bool WriteFileBytes(const std::string& path, const void* bytes, size_t size) {
    FILE* file = fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    bool written = size == 0 || fwrite(bytes, 1, size, file) == size;
    return fclose(file) == 0 && written;
}

bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    return WriteFileBytes(path, bytes.data(), bytes.size());
}

bool WriteFileText(const std::string& path, const std::string& text) {
    return WriteFileBytes(path, text.data(), text.size());
}

bool FileExists(const std::string& path) {
    FILE* file = fopen(path.c_str(), "rb");
    if (file != nullptr) fclose(file);
    return file != nullptr;
}

uint32_t Le16(const uint8_t* p) { return p[0] | p[1] << 8; }
uint32_t Le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | (uint32_t)p[3] << 24; }
uint32_t Be16(const uint8_t* p) { return p[0] << 8 | p[1]; }
uint32_t Be32(const uint8_t* p) { return (uint32_t)p[0] << 24 | p[1] << 16 | p[2] << 8 | p[3]; }

std::string ConformancePath(const std::string& name) {
    std::string path = TEST_CONFORMANCE_DIR;
    return name.empty() ? path : path + "/" + name;
}

std::vector<uint8_t> BitmapFileOf(const uint8_t* dib) {
    uint8_t header[14];
    BuildBitmapFileHeader(header, dib);
    std::vector<uint8_t> bytes(header, header + 14);
    bytes.insert(bytes.end(), dib, dib + PackedDibSize(dib));
    return bytes;
}

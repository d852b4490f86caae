// Files and bytes for every test program, native and Windows: whole-file
// reads and writes, byte-order reads, the shared conformance files and the
// bitmap file of a packed DIB.
#ifndef TESTS_COMMON_TEST_FILES_H
#define TESTS_COMMON_TEST_FILES_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

// The whole file; false, with *out empty, when it cannot be read.
bool ReadFileBytes(const std::string& path, std::vector<uint8_t>* out);
// The whole file, empty when it cannot be read.
std::vector<uint8_t> FileBytes(const std::string& path);
std::string FileText(const std::string& path);
// The whole file written; false on any failure, a short write included.
bool WriteFileBytes(const std::string& path, const void* bytes, size_t size);
bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);
bool WriteFileText(const std::string& path, const std::string& text);
bool FileExists(const std::string& path);

uint32_t Le16(const uint8_t* p);
uint32_t Le32(const uint8_t* p);
uint32_t Be16(const uint8_t* p);
uint32_t Be32(const uint8_t* p);

// The shared conformance file `name` (a path on drive Z: in Windows
// programs); the folder itself for an empty name. It may be absent.
std::string ConformancePath(const std::string& name);

// The bitmap file of a packed DIB: the 14-byte file header, then the block.
std::vector<uint8_t> BitmapFileOf(const uint8_t* dib);

#endif

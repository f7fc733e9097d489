// Helpers shared by the tests: where the corpus lives, reading files, simple images.
#pragma once

#include "image/core/CxImage.h"

#include <cstdint>
#include <string>
#include <vector>

namespace bvtest {

// The conformance corpus (tests/data in the repository).
std::string TestDataDir();
std::string TestData(const std::string& relative);
std::string SourceDir();
// A fresh empty folder under the system's temporary area, removed with everything in it
// when the test process ends.
std::string MakeTempDir(const std::string& prefix);

std::vector<uint8_t> ReadFileBytes(const std::string& path);
// The bytes of a corpus file.
std::vector<uint8_t> CorpusBytes(const std::string& relative);
// Appends a 16 or 32-bit value, most significant byte first.
void PutBig16(std::vector<uint8_t>& bytes, uint32_t value);
void PutBig32(std::vector<uint8_t>& bytes, uint32_t value);
void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);
bool FileExists(const std::string& path);
// Every regular file under a folder (recursively), sorted by path. A missing or empty
// folder fails the running test.
std::vector<std::string> ListFiles(const std::string& folder);

} // namespace bvtest

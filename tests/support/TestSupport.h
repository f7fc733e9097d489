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
// A fresh empty folder under the build's temporary area, removed by the caller or left.
std::string MakeTempDir(const std::string& prefix);

std::vector<uint8_t> ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);
bool FileExists(const std::string& path);
// Every regular file under a folder (recursively), sorted by path. A missing or empty
// folder fails the running test.
std::vector<std::string> ListFiles(const std::string& folder);

} // namespace bvtest

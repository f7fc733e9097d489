#include "TestSupport.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <mutex>
#include <stdexcept>
#include <unistd.h>

namespace fs = std::filesystem;

namespace bvtest {

std::string TestDataDir() { return BRIMVALE_TESTDATA_DIR; }

std::string TestData(const std::string& relative) { return TestDataDir() + "/" + relative; }

std::string SourceDir() { return BRIMVALE_SOURCE_DIR; }

namespace {

    // The folders a test process made, removed when it ends (and never by a child it forked).
    class TempFolders {
    public:
        ~TempFolders()
        {
            if (::getpid() != owner)
                return;
            std::error_code ignored;
            for (const std::string& folder : folders)
                fs::remove_all(folder, ignored);
        }
        void Add(const std::string& folder)
        {
            std::lock_guard lock(mutex);
            folders.push_back(folder);
        }

    private:
        const pid_t owner = ::getpid();
        std::mutex mutex;
        std::vector<std::string> folders;
    };

} // namespace

std::string MakeTempDir(const std::string& prefix)
{
    static TempFolders made;
    std::string pattern = (fs::temp_directory_path() / (prefix + "-XXXXXX")).string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    made.Add(pattern);
    return pattern;
}

std::vector<uint8_t> ReadFileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::vector<uint8_t> CorpusBytes(const std::string& relative)
{
    return ReadFileBytes(TestData(relative));
}

void PutBig16(std::vector<uint8_t>& bytes, uint32_t value)
{
    bytes.push_back(uint8_t(value >> 8));
    bytes.push_back(uint8_t(value));
}

void PutBig32(std::vector<uint8_t>& bytes, uint32_t value)
{
    PutBig16(bytes, value >> 16);
    PutBig16(bytes, value);
}

void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

bool FileExists(const std::string& path) { return fs::exists(path); }

std::vector<std::string> ListFiles(const std::string& folder)
{
    std::vector<std::string> files;
    if (!fs::is_directory(folder)) {
        ADD_FAILURE() << "no corpus folder " << folder;
        return files;
    }
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file())
            files.push_back(entry.path().string());
    }
    if (files.empty())
        ADD_FAILURE() << "no files under " << folder;
    std::sort(files.begin(), files.end());
    return files;
}

} // namespace bvtest

// The byte streams. The same calls are made on a file stream and on a memory stream and
// both must answer alike; the file stream's own answers follow the standard I/O calls.
#include "image/core/CxStream.h"
#include "tests/support/TestSupport.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

const std::string CONTENT = "0123456789ABCDEFGHIJ"; // 20 bytes

// Records each result as text so two streams can be compared call by call.
class Log {
public:
    template <typename T> void operator()(const char* what, T value)
    {
        lines.push_back(std::string(what) + " = " + std::to_string(value));
    }
    void Bytes(const char* what, const uint8_t* data, size_t count)
    {
        lines.push_back(std::string(what) + " = '"
            + std::string(reinterpret_cast<const char*>(data), count) + "'");
    }
    std::vector<std::string> lines;
};

// Reading calls over CONTENT, opened read-only.
std::vector<std::string> ReadingScript(CxStream& s)
{
    Log log;
    uint8_t buffer[64];
    log("size", s.Size());
    log("tell", s.Tell());
    log("eof", s.Eof());
    log("error", s.Error());

    log("read 4x2", s.Read(buffer, 4, 2));
    log.Bytes("bytes", buffer, 8);
    log("seek +5 cur", s.Seek(5, SEEK_CUR));
    log("tell", s.Tell());
    log("size mid-file", s.Size());
    log("tell after size", s.Tell());
    log("getc", s.GetC());

    log("seek -3 end", s.Seek(-3, SEEK_END));
    log("read 1x5 near the end", s.Read(buffer, 1, 5));
    log.Bytes("bytes", buffer, 3);
    log("eof after short read", s.Eof());
    log("getc at end", s.GetC());
    log("seek 0 set", s.Seek(0, SEEK_SET));
    log("eof cleared by seek", s.Eof());

    log("seek before start", s.Seek(-1, SEEK_SET));
    log("tell unchanged", s.Tell());
    log("seek bad origin", s.Seek(0, 7));

    // Short reads in both forms: 11 bytes left, 12 wanted.
    s.Seek(9, SEEK_SET);
    log("read 12x1 with 11 left", s.Read(buffer, 12, 1));
    log("tell after", s.Tell());
    log("eof", s.Eof());
    s.Seek(9, SEEK_SET);
    std::memset(buffer, 0, sizeof(buffer));
    log("read 1x12 with 11 left", s.Read(buffer, 1, 12));
    log.Bytes("bytes", buffer, 11);
    log("eof", s.Eof());
    s.Seek(9, SEEK_SET);
    log("read 11x1 exactly", s.Read(buffer, 11, 1));
    log("eof after exact read", s.Eof());
    log("read 3x3 at end", s.Read(buffer, 3, 3));
    s.Seek(0, SEEK_SET);
    log("read 3x7 (a partial item)", s.Read(buffer, 3, 7));
    log("tell after partial item", s.Tell());

    s.Seek(0, SEEK_SET);
    log("read count 0", s.Read(buffer, 1, 0));
    log("read size 0", s.Read(buffer, 0, 5));
    log("tell", s.Tell());
    log("eof", s.Eof());

    log("seek past end", s.Seek(100, SEEK_SET));
    log("tell past end", s.Tell());
    log("size past end", s.Size());
    log("read past end", s.Read(buffer, 1, 4));
    log("eof past end", s.Eof());
    log("getc past end", s.GetC());

    s.Seek(2, SEEK_SET);
    log("flush", s.Flush());
    log("write to read-only", s.Write("x", 1, 1));
    log("putc to read-only", s.PutC('x'));
    log("error set", s.Error() != 0);
    return log.lines;
}

// Writing calls on an empty stream open for update.
std::vector<std::string> WritingScript(CxStream& s)
{
    Log log;
    uint8_t buffer[64];
    log("size empty", s.Size());
    log("read empty", s.Read(buffer, 1, 4));
    log("eof empty", s.Eof());
    log("getc empty", s.GetC());
    s.Seek(0, SEEK_SET);

    log("write 1x3", s.Write("abc", 1, 3));
    log("write 2x2", s.Write("defg", 2, 2));
    log("putc 0x1FF", s.PutC(0x1FF));
    log("putc z", s.PutC('z'));
    log("putc -1", s.PutC(-1));
    log("write count 0", s.Write("q", 1, 0));
    log("write size 0", s.Write("q", 0, 3));
    log("tell", s.Tell());
    log("size", s.Size());

    log("seek 2 set", s.Seek(2, SEEK_SET));
    log("overwrite", s.Write("XY", 1, 2));
    log("tell", s.Tell());
    log("size unchanged", s.Size());

    log("seek 3 past end", s.Seek(3, SEEK_END));
    log("size before writing", s.Size());
    log("write after gap", s.Write("!", 1, 1));
    log("size with gap", s.Size());
    log("flush", s.Flush());

    s.Seek(0, SEEK_SET);
    std::memset(buffer, 0xCC, sizeof(buffer));
    log("read all", s.Read(buffer, 1, 64));
    log.Bytes("bytes", buffer, 14);
    log("eof", s.Eof());
    log("error", s.Error());
    return log.lines;
}

// The results of every call on a stream that has nothing to work on.
std::vector<std::string> DeadScript(CxStream& s)
{
    Log log;
    uint8_t buffer[4] = {};
    log("read", s.Read(buffer, 1, 4));
    log("write", s.Write(buffer, 1, 4));
    log("seek", s.Seek(0, SEEK_SET));
    log("tell", s.Tell());
    log("size", s.Size());
    log("flush", s.Flush());
    log("eof", s.Eof());
    log("error", s.Error());
    log("putc", s.PutC('a'));
    log("getc", s.GetC());
    log("close", s.Close());
    return log.lines;
}

const std::vector<std::string> DEAD_RESULTS = { "read = 0", "write = 0", "seek = 0", "tell = 0",
    "size = -1", "flush = 0", "eof = 1", "error = -1", "putc = 0", "getc = -1", "close = 1" };

class StreamFiles : public testing::Test {
protected:
    void SetUp() override
    {
        folder = bvtest::MakeTempDir("bv-stream");
        path = folder + "/content.bin";
        bvtest::WriteFileBytes(path, std::vector<uint8_t>(CONTENT.begin(), CONTENT.end()));
    }
    void TearDown() override { std::filesystem::remove_all(folder); }
    std::string folder;
    std::string path;
};

} // namespace

TEST_F(StreamFiles, FileAndMemoryStreamsReadAlike)
{
    FILE* file = std::fopen(path.c_str(), "rb");
    ASSERT_NE(file, nullptr);
    std::vector<std::string> fromFile;
    {
        CxFileStream stream(file);
        fromFile = ReadingScript(stream);
    }
    EXPECT_EQ(std::fclose(file), 0) << "the stream did not close the caller's handle";

    CxMemStream memory(CONTENT.data(), CONTENT.size());
    const std::vector<std::string> fromMemory = ReadingScript(memory);
    EXPECT_EQ(fromMemory, fromFile);

    // Spot checks of the file stream's own answers.
    ASSERT_GE(fromFile.size(), 30u);
    EXPECT_EQ(fromFile[0], "size = 20");
    auto has = [&](const std::string& line) {
        return std::find(fromFile.begin(), fromFile.end(), line) != fromFile.end();
    };
    EXPECT_TRUE(has("size mid-file = 20"));
    EXPECT_TRUE(has("tell after size = 13"));
    EXPECT_TRUE(has("getc = 68")); // 'D'
    EXPECT_TRUE(has("read 12x1 with 11 left = 0"));
    EXPECT_TRUE(has("read 1x12 with 11 left = 11"));
    EXPECT_TRUE(has("bytes = '9ABCDEFGHIJ'"));
    EXPECT_TRUE(has("eof after exact read = 0"));
    EXPECT_TRUE(has("read 3x7 (a partial item) = 6"));
    EXPECT_TRUE(has("tell after partial item = 20"));
    EXPECT_TRUE(has("seek before start = 0"));
    EXPECT_TRUE(has("seek past end = 1"));
    EXPECT_TRUE(has("write to read-only = 0"));
    EXPECT_TRUE(has("error set = 1"));
}

TEST_F(StreamFiles, FileAndMemoryStreamsWriteAlike)
{
    const std::string out = folder + "/written.bin";
    FILE* file = std::fopen(out.c_str(), "w+b");
    ASSERT_NE(file, nullptr);
    std::vector<std::string> fromFile;
    {
        CxFileStream stream(file);
        fromFile = WritingScript(stream);
    }
    ASSERT_EQ(std::fclose(file), 0);

    CxMemStream memory;
    EXPECT_EQ(WritingScript(memory), fromFile);

    const std::string expected = std::string("abXYefg\xFFz\xFF\0\0\0!", 14);
    const std::vector<uint8_t> onDisk = bvtest::ReadFileBytes(out);
    EXPECT_EQ(std::string(onDisk.begin(), onDisk.end()), expected);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(memory.Data()), memory.Length()), expected);
    const std::vector<uint8_t> taken = memory.TakeBuffer();
    EXPECT_EQ(std::string(taken.begin(), taken.end()), expected);
}

TEST_F(StreamFiles, CloseOnACallersHandleLeavesItOpenAndUsable)
{
    FILE* file = std::fopen(path.c_str(), "rb");
    ASSERT_NE(file, nullptr);
    {
        CxFileStream stream(file);
        EXPECT_EQ(stream.GetC(), '0');
        EXPECT_TRUE(stream.Close());
        EXPECT_EQ(stream.GetC(), '1') << "the stream still reads after Close";
        EXPECT_EQ(stream.Tell(), 2);
    }
    EXPECT_EQ(std::fgetc(file), '2') << "the handle survived Close and the destructor";
    EXPECT_EQ(std::fclose(file), 0);

    CxMemStream memory(CONTENT.data(), CONTENT.size());
    EXPECT_EQ(memory.GetC(), '0');
    EXPECT_TRUE(memory.Close());
    EXPECT_EQ(memory.GetC(), '1') << "a stream over a caller's bytes reads on after Close";
    EXPECT_EQ(memory.Size(), 20);
}

TEST(StreamWithoutAHandle, EveryOperationGivesItsFixedResult)
{
    CxFileStream none;
    EXPECT_EQ(DeadScript(none), DEAD_RESULTS);
    EXPECT_EQ(DeadScript(none), DEAD_RESULTS) << "and keeps giving it";

    // A memory stream of its own, once closed, answers the same.
    CxMemStream closed;
    closed.Write("abc", 1, 3);
    EXPECT_TRUE(closed.Close());
    EXPECT_EQ(DeadScript(closed), DEAD_RESULTS);
}

TEST(StreamPutC, OnlyTheLowEightBitsAreWritten)
{
    const std::string folder = bvtest::MakeTempDir("bv-putc");
    const std::string path = folder + "/putc.bin";
    FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    {
        CxFileStream stream(file);
        EXPECT_TRUE(stream.PutC(0x1FF));
        EXPECT_TRUE(stream.PutC(0x100));
        EXPECT_TRUE(stream.PutC(-2));
        EXPECT_EQ(stream.Tell(), 3);
    }
    std::fclose(file);
    EXPECT_EQ(bvtest::ReadFileBytes(path), (std::vector<uint8_t> { 0xFF, 0x00, 0xFE }));
    std::filesystem::remove_all(folder);
}

namespace {

// A stream that implements only the pure operations, to see the base PutC at work.
class CountingStream : public CxStream {
public:
    bool Close() override { return true; }
    uint32_t Read(void*, uint32_t, uint32_t) override { return 0; }
    uint32_t Write(const void* buffer, uint32_t size, uint32_t count) override
    {
        calls++;
        if (size == 1 && count == 1)
            last = *static_cast<const uint8_t*>(buffer);
        return accept ? count : 0;
    }
    bool Seek(int32_t, int) override { return false; }
    int32_t Tell() override { return 0; }
    int32_t Size() override { return -1; }
    bool Flush() override { return true; }
    bool Eof() override { return true; }
    int32_t Error() override { return 0; }
    int32_t GetC() override { return -1; }

    int calls = 0;
    uint8_t last = 0;
    bool accept = true;
};

} // namespace

TEST(StreamPutC, TheDefaultWritesOneItemOfOneByte)
{
    CountingStream stream;
    EXPECT_TRUE(stream.PutC(0x2AB));
    EXPECT_EQ(stream.calls, 1);
    EXPECT_EQ(stream.last, 0xAB);
    stream.accept = false;
    EXPECT_FALSE(stream.PutC(1));
}

TEST(MemoryStream, ReadsTheCallersBytesWithoutCopyingThem)
{
    const uint8_t bytes[3] = { 7, 8, 9 };
    CxMemStream stream(bytes, sizeof(bytes));
    EXPECT_EQ(stream.Data(), bytes);
    EXPECT_EQ(stream.Length(), 3u);

    CxMemStream none(nullptr, 5);
    EXPECT_EQ(none.Size(), 0) << "a null buffer is an empty stream";
    uint8_t out[2];
    EXPECT_EQ(none.Read(out, 1, 2), 0u);
    EXPECT_TRUE(none.Eof());
    EXPECT_EQ(none.GetC(), -1);
}

TEST(MemoryStream, ReadingAnEmptyOrExhaustedBufferIsSafe)
{
    uint8_t out[8];
    CxMemStream empty;
    EXPECT_EQ(empty.Read(out, 1, 8), 0u);
    EXPECT_EQ(empty.Read(out, 8, 1), 0u);
    EXPECT_TRUE(empty.Eof());

    CxMemStream grown;
    grown.Write("ab", 1, 2);
    EXPECT_TRUE(grown.Seek(1000, SEEK_SET));
    EXPECT_EQ(grown.Read(out, 1, 8), 0u);
    EXPECT_TRUE(grown.Eof());
    EXPECT_EQ(grown.Size(), 2);
}

TEST(MemoryStream, PositionsStayWithinSigned32Bits)
{
    CxMemStream stream;
    EXPECT_TRUE(stream.Seek(INT32_MAX, SEEK_SET));
    EXPECT_FALSE(stream.Seek(1, SEEK_CUR));
    EXPECT_EQ(stream.Tell(), INT32_MAX);
    EXPECT_EQ(stream.Write("a", 1, 1), 0u) << "a write beyond 2 GiB is refused";
    EXPECT_NE(stream.Error(), 0);
    EXPECT_EQ(stream.Size(), 0);
}

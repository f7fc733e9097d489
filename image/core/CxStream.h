// Byte streams: every codec reads and writes through CxStream and never touches a file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

class CxStream {
public:
    virtual ~CxStream() = default;
    virtual bool Close() = 0;
    virtual uint32_t Read(void* buffer, uint32_t size, uint32_t count) = 0;
    virtual uint32_t Write(const void* buffer, uint32_t size, uint32_t count) = 0;
    virtual bool Seek(int32_t offset, int origin) = 0;
    virtual int32_t Tell() = 0;
    virtual int32_t Size() = 0;
    virtual bool Flush() = 0;
    virtual bool Eof() = 0;
    virtual int32_t Error() = 0;
    virtual bool PutC(int value)
    {
        const uint8_t byte = uint8_t(value);
        return Write(&byte, 1, 1) == 1;
    }
    virtual int32_t GetC() = 0;
};

// A stream over a standard I/O handle that the caller opened. A stream made over a
// caller's handle never closes it.
class CxFileStream : public CxStream {
public:
    explicit CxFileStream(FILE* file = nullptr);
    ~CxFileStream() override;
    CxFileStream(const CxFileStream&) = delete;
    CxFileStream& operator=(const CxFileStream&) = delete;

    bool Close() override;
    uint32_t Read(void* buffer, uint32_t size, uint32_t count) override;
    uint32_t Write(const void* buffer, uint32_t size, uint32_t count) override;
    bool Seek(int32_t offset, int origin) override;
    int32_t Tell() override;
    int32_t Size() override;
    bool Flush() override;
    bool Eof() override;
    int32_t Error() override;
    bool PutC(int value) override;
    int32_t GetC() override;

private:
    FILE* handle;
    bool ownsHandle;
};

// A stream over bytes in memory. Made over a caller's buffer it reads those bytes and
// owns nothing (writes fail, Close leaves it readable); made without one it grows a buffer
// of its own, which can be written, sought in and read back like a file opened for update
// until Close.
class CxMemStream : public CxStream {
public:
    CxMemStream(); // empty, owned, growable
    CxMemStream(const void* data, size_t size); // read-only view of the caller's bytes
    CxMemStream(const CxMemStream&) = delete;
    CxMemStream& operator=(const CxMemStream&) = delete;

    bool Close() override;
    uint32_t Read(void* buffer, uint32_t size, uint32_t count) override;
    uint32_t Write(const void* buffer, uint32_t size, uint32_t count) override;
    bool Seek(int32_t offset, int origin) override;
    int32_t Tell() override;
    int32_t Size() override;
    bool Flush() override;
    bool Eof() override;
    int32_t Error() override;
    bool PutC(int value) override;
    int32_t GetC() override;

    const uint8_t* Data() const { return view ? view : owned.data(); }
    size_t Length() const { return view ? viewSize : owned.size(); }
    std::vector<uint8_t> TakeBuffer();

private:
    const uint8_t* view = nullptr;
    size_t viewSize = 0;
    std::vector<uint8_t> owned;
    size_t position = 0;
    bool atEnd = false;
    bool failed = false;
    bool open = true;
};

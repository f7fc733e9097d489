#include "CxStream.h"

#include <algorithm>
#include <cstring>
#include <limits>

CxFileStream::CxFileStream(FILE* file)
    : handle(file)
    , ownsHandle(file == nullptr)
{
}

CxFileStream::~CxFileStream()
{
    if (ownsHandle && handle) {
        std::fclose(handle);
        handle = nullptr;
    }
}

bool CxFileStream::Close()
{
    if (!handle || !ownsHandle)
        return true;
    const int result = std::fclose(handle);
    handle = nullptr;
    return result == 0;
}

uint32_t CxFileStream::Read(void* buffer, uint32_t size, uint32_t count)
{
    return handle ? uint32_t(std::fread(buffer, size, count, handle)) : 0;
}

uint32_t CxFileStream::Write(const void* buffer, uint32_t size, uint32_t count)
{
    return handle ? uint32_t(std::fwrite(buffer, size, count, handle)) : 0;
}

bool CxFileStream::Seek(int32_t offset, int origin)
{
    return handle && std::fseek(handle, offset, origin) == 0;
}

int32_t CxFileStream::Tell() { return handle ? int32_t(std::ftell(handle)) : 0; }

int32_t CxFileStream::Size()
{
    if (!handle)
        return -1;
    const long position = std::ftell(handle);
    std::fseek(handle, 0, SEEK_END);
    const long size = std::ftell(handle);
    std::fseek(handle, position, SEEK_SET);
    return int32_t(size);
}

bool CxFileStream::Flush() { return handle && std::fflush(handle) == 0; }

bool CxFileStream::Eof() { return handle ? std::feof(handle) != 0 : true; }

int32_t CxFileStream::Error() { return handle ? std::ferror(handle) : -1; }

bool CxFileStream::PutC(int value)
{
    if (!handle)
        return false;
    const int byte = value & 0xFF;
    return std::fputc(byte, handle) == byte;
}

int32_t CxFileStream::GetC()
{
    if (!handle)
        return -1;
    const int c = std::fgetc(handle);
    return c == EOF ? -1 : c;
}

CxMemStream::CxMemStream() = default;

CxMemStream::CxMemStream(const void* data, size_t size)
    : view(static_cast<const uint8_t*>(data))
    , viewSize(size)
{
    // A null buffer still makes a read-only stream, of no bytes.
    if (!view) {
        static const uint8_t none = 0;
        view = &none;
        viewSize = 0;
    }
}

bool CxMemStream::Close()
{
    // Like a file stream over a caller's handle, a stream over a caller's bytes leaves
    // them readable; only a buffer of the stream's own is closed.
    if (!view)
        open = false;
    return true;
}

uint32_t CxMemStream::Read(void* buffer, uint32_t size, uint32_t count)
{
    if (!open || size == 0 || count == 0)
        return 0;
    const size_t length = Length();
    const size_t available = position < length ? length - position : 0;
    const uint64_t wanted = uint64_t(size) * count;
    const size_t bytes = size_t(std::min<uint64_t>(available, wanted));
    const size_t items = bytes / size;
    // Whole items are delivered; like fread, the bytes of a partial item are consumed too.
    // Nothing is copied from an empty buffer or from beyond its end.
    if (bytes)
        std::memcpy(buffer, Data() + position, bytes);
    position += bytes;
    if (items < count)
        atEnd = true;
    return uint32_t(items);
}

uint32_t CxMemStream::Write(const void* buffer, uint32_t size, uint32_t count)
{
    if (!open || view) {
        failed = failed || view != nullptr;
        return 0;
    }
    const uint64_t bytes = uint64_t(size) * count;
    if (bytes == 0)
        return 0;
    if (position + bytes > uint64_t(std::numeric_limits<int32_t>::max())) {
        failed = true;
        return 0;
    }
    if (position + bytes > owned.size())
        owned.resize(position + bytes);
    std::memcpy(owned.data() + position, buffer, bytes);
    position += bytes;
    return count;
}

bool CxMemStream::Seek(int32_t offset, int origin)
{
    if (!open)
        return false;
    int64_t base;
    switch (origin) {
    case SEEK_SET:
        base = 0;
        break;
    case SEEK_CUR:
        base = int64_t(position);
        break;
    case SEEK_END:
        base = int64_t(Length());
        break;
    default:
        return false;
    }
    const int64_t target = base + offset;
    if (target < 0 || target > std::numeric_limits<int32_t>::max())
        return false;
    position = size_t(target);
    atEnd = false;
    return true;
}

int32_t CxMemStream::Tell() { return open ? int32_t(position) : 0; }

int32_t CxMemStream::Size() { return open ? int32_t(Length()) : -1; }

bool CxMemStream::Flush() { return open; }

bool CxMemStream::Eof() { return open ? atEnd : true; }

int32_t CxMemStream::Error() { return open ? (failed ? 1 : 0) : -1; }

bool CxMemStream::PutC(int value)
{
    const uint8_t byte = uint8_t(value);
    return Write(&byte, 1, 1) == 1;
}

int32_t CxMemStream::GetC()
{
    if (!open)
        return -1;
    if (position >= Length()) {
        atEnd = true;
        return -1;
    }
    return Data()[position++];
}

std::vector<uint8_t> CxMemStream::TakeBuffer()
{
    std::vector<uint8_t> result
        = view ? std::vector<uint8_t>(view, view + viewSize) : std::move(owned);
    owned.clear();
    position = 0;
    return result;
}

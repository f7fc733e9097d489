// The one error type of the format readers, and the single exit every reader's Decode
// goes through. Inside a reader, helpers raise CxReadError with the text the caller will
// see; RunReader catches it (and an allocation failure), stores the text in lastError and
// answers false, so nothing is ever thrown out of Decode.
#pragma once

#include "CxImage.h"
#include "platform/Memory.h"

#include <new>
#include <stdexcept>
#include <string>
#include <type_traits>

class CxReadError : public std::runtime_error {
public:
    explicit CxReadError(const char* text)
        : std::runtime_error(text ? text : "")
        , keepsLastError(text == nullptr)
    {
    }
    explicit CxReadError(const std::string& text)
        : std::runtime_error(text)
    {
    }

    // A failure that leaves lastError as it stands: the caller asked a question (a frame
    // past the last one) rather than handing over a broken file.
    static CxReadError WithoutText() { return CxReadError(static_cast<const char*>(nullptr)); }
    bool KeepsLastError() const { return keepsLastError; }

private:
    bool keepsLastError = false;
};

[[noreturn]] inline void ThrowReadError(const char* text) { throw CxReadError(text); }
[[noreturn]] inline void ThrowReadError(const std::string& text) { throw CxReadError(text); }

// Runs a reader's body and answers its result (true for a body that returns nothing). A
// CxReadError's text, or outOfMemoryText for std::bad_alloc, goes into the image's
// lastError and the answer is false.
template <typename Body> bool RunReader(CxImage& image, const char* outOfMemoryText, Body&& body)
{
    try {
        if constexpr (std::is_void_v<std::invoke_result_t<Body&>>) {
            body();
            return true;
        } else {
            return bool(body());
        }
    } catch (const CxReadError& error) {
        if (!error.KeepsLastError())
            image.SetLastError(error.what());
    } catch (const std::bad_alloc&) {
        platform::NoteAllocationFailure();
        image.SetLastError(outOfMemoryText);
    }
    return false;
}

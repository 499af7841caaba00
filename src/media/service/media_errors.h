#pragma once
// The service's own error numbers and texts. Numbers start well above zero so that a
// stray small integer is never mistaken for one of them.

#include <cstdint>
#include <string_view>

namespace tambrel::media {

enum class MediaError : int32_t {
    None = 0,
    UnknownCommand = 301,
    BadParameter = 302,  // missing, malformed or unexpected word
    OutOfRange = 303,    // well-formed number outside what the command accepts
    NotOpen = 304,       // no device under that alias
    AliasInUse = 305,
    FileNotFound = 306,
    // No container FFmpeg reads, no video stream, no decoder, an absurd size, no picture
    // that decodes. (Its text, which users see, still says AVI.)
    NotPlayable = 307,
    UnknownHandle = 308,   // window or device-context handle not in the handle table
    DecodeFailed = 309,    // an open clip's frame could not be decoded (damaged file)
    NoMemory = 310,        // the pictures would not fit in the process's memory budget
    TooManyDevices = 311,  // as many clips are open as a process keeps at once
};

constexpr int32_t code(MediaError e) { return static_cast<int32_t>(e); }

// The text for an error number; empty for 0 and for numbers the service never gives.
std::string_view error_text(int32_t code);

}  // namespace tambrel::media

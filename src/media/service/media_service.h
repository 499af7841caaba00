#pragma once
// The media service: takes a command line, answers into a caller's byte buffer, and
// gives 0 or an error number; error numbers have texts of their own. Replies and
// texts are UTF-8, cut at a character boundary to fit `capacity` (NUL included).
// Used from one thread only.

#include <cstddef>
#include <cstdint>

namespace tambrel::media {

class MediaService {
  public:
    virtual ~MediaService() = default;
    virtual int32_t send_string(const char* command, char* reply, size_t capacity) = 0;
    // Writes the text for `code` into `text`; false (and nothing written) for an
    // unknown code.
    virtual bool error_string(int32_t code, char* text, size_t capacity) = 0;
};

}  // namespace tambrel::media

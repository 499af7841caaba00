#pragma once
// The media service behind mci_send: parses command lines and runs them on the devices
// it has opened, one per alias. Every failure gives one of the numbers of
// media_errors.h, whose texts error_string gives.

#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "core/handles.h"
#include "media/service/media_service.h"

namespace tambrel::media {

class VideoDevice;

class CommandService : public MediaService {
  public:
    explicit CommandService(const HandleTable& handles);
    ~CommandService() override;
    CommandService(const CommandService&) = delete;
    CommandService& operator=(const CommandService&) = delete;

    int32_t send_string(const char* command, char* reply, size_t capacity) override;
    bool error_string(int32_t code, char* text, size_t capacity) override;

    // Runs one command: 0 or an error number; `reply` gets the answer (empty for
    // commands without one, and after a failure).
    int32_t execute(std::string_view command, std::string& reply);

    // The device open under `alias` (any case), or nullptr. For tools and benchmarks.
    VideoDevice* device(std::string_view alias) const;

  private:
    const HandleTable& handles_;
    std::map<std::string, std::unique_ptr<VideoDevice>, std::less<>> devices_;
};

// Copies `text` into a caller's byte buffer of `capacity` (NUL included), cut at a
// UTF-8 character boundary. Nothing is written when capacity is 0.
void copy_reply(std::string_view text, char* buffer, size_t capacity);

}  // namespace tambrel::media

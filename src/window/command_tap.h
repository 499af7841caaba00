#pragma once
// A look at the window's media commands as they pass: it stands between Module1 and
// the service, hands every command on unchanged, and tells a listener what was sent,
// what came back and with which code. It never sends a command of its own, so the
// window still reaches the service only through mci_send.

#include <functional>
#include <string_view>

#include "media/service/media_service.h"

namespace tambrel {

class CommandTap : public media::MediaService {
public:
    explicit CommandTap(media::MediaService& service) : service_(service) {}

    // Called after each command with its return code and reply (empty after a failure).
    // The listener must not send commands itself: it runs inside mci_send.
    std::function<void(std::string_view command, int32_t rc, std::string_view reply)> listener;

    int32_t send_string(const char* command, char* reply, size_t capacity) override;
    bool error_string(int32_t code, char* text, size_t capacity) override {
        return service_.error_string(code, text, capacity);
    }

private:
    media::MediaService& service_;
};

}  // namespace tambrel

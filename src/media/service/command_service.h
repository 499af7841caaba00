#pragma once
// The media service behind mci_send: parses command lines and runs them on devices.

#include "core/handles.h"
#include "media/service/media_service.h"

namespace tambrel::media {

class CommandService : public MediaService {
public:
    explicit CommandService(const HandleTable& handles) : handles_(handles) {}
    int32_t send_string(const char* command, char* reply, size_t capacity) override;
    bool error_string(int32_t code, char* text, size_t capacity) override;

private:
    const HandleTable& handles_;
};

}  // namespace tambrel::media

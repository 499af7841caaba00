#pragma once
// The one way to the media service: mci_send with its fixed 256-byte reply buffer and
// the beep on failure, and short_path, the blank-free form of a path for the open command.

#include <QString>
#include <cstdint>

#include "core/platform.h"
#include "media/service/media_service.h"

namespace tambrel {

class Module1 {
public:
    static constexpr size_t kBufferSize = 256;

    Module1(media::MediaService& service, Platform& platform)
        : service_(service), platform_(platform) {}

    // Sends `command`; `reply` receives the answer (empty for none), or after a failure
    // the service's error text, with one beep. Returns 0 or the service's error number.
    int32_t mci_send(const QString& command, QString& reply);

    // The path in the blank-free form the open command carries, or empty text when the
    // file does not exist or the form does not fit the 256-byte buffer.
    static QString short_path(const QString& path);

private:
    media::MediaService& service_;
    Platform& platform_;
};

}  // namespace tambrel

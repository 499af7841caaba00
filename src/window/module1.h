#pragma once
// The one way to the media service: mci_send with its fixed 256-byte reply buffer and
// the beep on failure, and short_path, the one-word form of a path for the open command.

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

    // The absolute path in the one-word form the open command carries (blanks, '%' and
    // control bytes as %XX, everything else as typed). Empty text only for an empty
    // path. Neither a buffer nor the file's existence bounds it: any path the file
    // system takes opens, and one that cannot be opened is named in the service's answer.
    static QString short_path(const QString& path);

private:
    media::MediaService& service_;
    Platform& platform_;
};

}  // namespace tambrel

#include "media/service/media_errors.h"

namespace tambrel::media {

std::string_view error_text(int32_t number) {
    switch (static_cast<MediaError>(number)) {
        case MediaError::UnknownCommand:
            return "The media command is not recognized.";
        case MediaError::BadParameter:
            return "A parameter of the command is missing or not valid.";
        case MediaError::OutOfRange:
            return "A parameter of the command is out of range.";
        case MediaError::NotOpen:
            return "No device is open under that alias.";
        case MediaError::AliasInUse:
            return "The alias is already used by an open device.";
        case MediaError::FileNotFound:
            return "The file cannot be found or cannot be read.";
        case MediaError::NotPlayable:
            return "The file is not a playable AVI video.";
        case MediaError::UnknownHandle:
            return "The window or device-context handle is not known.";
        case MediaError::DecodeFailed:
            return "The video frame cannot be decoded; the file may be damaged.";
        case MediaError::None:
            break;
    }
    return {};
}

}  // namespace tambrel::media

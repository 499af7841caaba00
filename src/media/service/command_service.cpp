#include "media/service/command_service.h"

#include <cstdio>
#include <cstring>
#include <type_traits>

#include "core/surface.h"
#include "media/service/command_parser.h"
#include "media/service/video_device.h"

namespace tambrel::media {

namespace {
// Decimal text with at most `decimals` places and no trailing zeros: "30", "29.97".
std::string decimal_text(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    std::string out(text);
    if (out.find('.') != std::string::npos) {
        while (out.back() == '0') out.pop_back();
        if (out.back() == '.') out.pop_back();
    }
    return out == "-0" ? "0" : out;
}

std::string folded(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}
}  // namespace

void copy_reply(std::string_view text, char* buffer, size_t capacity) {
    if (!buffer || capacity == 0) return;
    size_t n = std::min(text.size(), capacity - 1);
    // Never end inside a multi-byte character.
    while (n > 0 && n < text.size() && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
}

CommandService::CommandService(const HandleTable& handles) : handles_(handles) {}
CommandService::~CommandService() = default;

VideoDevice* CommandService::device(std::string_view alias) const {
    const auto it = devices_.find(folded(alias));
    return it == devices_.end() ? nullptr : it->second.get();
}

int32_t CommandService::send_string(const char* command, char* reply, size_t capacity) {
    std::string answer;
    const int32_t rc = execute(command ? std::string_view(command) : std::string_view(), answer);
    copy_reply(answer, reply, capacity);
    return rc;
}

bool CommandService::error_string(int32_t number, char* text, size_t capacity) {
    const std::string_view t = error_text(number);
    if (t.empty()) return false;
    copy_reply(t, text, capacity);
    return true;
}

int32_t CommandService::execute(std::string_view text, std::string& reply) {
    reply.clear();
    const ParseResult parsed = parse_command(text);
    if (parsed.error != MediaError::None) return code(parsed.error);
    const Command& command = *parsed.command;

    if (const auto* open = std::get_if<OpenCommand>(&command)) {
        if (devices_.contains(open->alias)) return code(MediaError::AliasInUse);
        QWidget* parent = nullptr;
        if (open->parent) {
            parent = handles_.window(*open->parent);
            if (!parent) return code(MediaError::UnknownHandle);
        }
        MediaError error = MediaError::None;
        auto device = VideoDevice::open(open->path, parent, error);
        if (!device) return code(error);
        devices_.emplace(open->alias, std::move(device));
        return 0;
    }

    const auto it = devices_.find(alias_of(command));
    if (it == devices_.end()) return code(MediaError::NotOpen);
    VideoDevice& device = *it->second;

    const MediaError result = std::visit(
        [&](const auto& c) -> MediaError {
            using T = std::decay_t<decltype(c)>;
            if constexpr (std::is_same_v<T, CloseCommand>) {
                devices_.erase(it);  // ends playback, removes the window, frees the clip
                return MediaError::None;
            } else if constexpr (std::is_same_v<T, DestinationCommand>) {
                std::optional<QRect> rect;
                if (c.rect) rect = QRect(c.rect->x, c.rect->y, c.rect->width, c.rect->height);
                return device.set_destination(rect);
            } else if constexpr (std::is_same_v<T, StatusCommand>) {
                switch (c.item) {
                    case StatusItem::Length:
                        reply = std::to_string(device.length());
                        break;
                    case StatusItem::Position:
                        reply = std::to_string(device.position());
                        break;
                    case StatusItem::FrameRate:
                        reply = decimal_text(device.clip().frame_rate(), 3);
                        break;
                    case StatusItem::CaptureRate:
                        reply = decimal_text(device.clip().capture_rate(), 3);
                        break;
                    case StatusItem::Time:
                        reply = decimal_text(
                            static_cast<double>(device.clip().time_us(device.position())) / 1000.0,
                            3);
                        break;
                }
                return MediaError::None;
            } else if constexpr (std::is_same_v<T, WhereCommand>) {
                const QSize size = device.clip().size();
                reply = "0 0 " + std::to_string(size.width()) + ' ' + std::to_string(size.height());
                return MediaError::None;
            } else if constexpr (std::is_same_v<T, PlayCommand>) {
                return device.play();
            } else if constexpr (std::is_same_v<T, PauseCommand> ||
                                 std::is_same_v<T, StopCommand>) {
                device.halt();
                return MediaError::None;
            } else if constexpr (std::is_same_v<T, StepCommand>) {
                return device.step(c.reverse);
            } else if constexpr (std::is_same_v<T, SeekCommand>) {
                return device.seek(c.frame);
            } else if constexpr (std::is_same_v<T, UpdateCommand>) {
                PictureSurface* surface = handles_.surface(c.hdc);
                if (!surface) return MediaError::UnknownHandle;
                return device.update(*surface);
            } else {
                static_assert(std::is_same_v<T, OpenCommand>);
                return MediaError::UnknownCommand;  // handled above
            }
        },
        command);
    if (result != MediaError::None) reply.clear();
    return code(result);
}

}  // namespace tambrel::media

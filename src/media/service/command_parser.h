#pragma once
// The command language of the media service, parsed into one struct per command.
// Pure: no devices, no files, no handles are looked at here.
//
// Words are separated by one or more blanks (space or tab); verbs and keywords are
// matched without regard to case; aliases are folded to lower case so that "AVFILE"
// and "avfile" name the same device. Paths keep their case.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "media/service/media_errors.h"

namespace tambrel::media {

struct DestinationRect {
    int32_t x = 0, y = 0, width = 0, height = 0;
    bool operator==(const DestinationRect&) const = default;
};

// "open <path> alias <alias> [style child] [parent <window handle>]"
struct OpenCommand {
    std::string path;  // decoded from the blank-free form
    std::string alias;
    std::optional<int32_t> parent;
};
// "close <alias>"
struct CloseCommand {
    std::string alias;
};
// "put <alias> destination [at X Y W H]"; no rectangle: back to the clip's own size.
struct DestinationCommand {
    std::string alias;
    std::optional<DestinationRect> rect;
};
// length, position: frames. frame rate, capture rate: frames per second as decimal
// text. time: milliseconds of the current frame from frame 0, as decimal text.
enum class StatusItem { Length, Position, FrameRate, CaptureRate, Time };
// "status <alias> length|position|frame rate|capture rate|time"
struct StatusCommand {
    std::string alias;
    StatusItem item = StatusItem::Length;
};
// "play <alias> [window]"
struct PlayCommand {
    std::string alias;
};
// "pause <alias>"
struct PauseCommand {
    std::string alias;
};
// "stop <alias>"
struct StopCommand {
    std::string alias;
};
// "step <alias> [reverse]"
struct StepCommand {
    std::string alias;
    bool reverse = false;
};
// "seek <alias> to <frame>"; the frame is checked against the clip's length later.
struct SeekCommand {
    std::string alias;
    int64_t frame = 0;
};
// "where <alias> source": "0 0 W H", the picture as it is shown (upright, square pixels).
struct WhereCommand {
    std::string alias;
};
// "update <alias> hdc <device-context handle>"
struct UpdateCommand {
    std::string alias;
    int32_t hdc = 0;
};

using Command =
    std::variant<OpenCommand, CloseCommand, DestinationCommand, StatusCommand, PlayCommand,
                 PauseCommand, StopCommand, StepCommand, SeekCommand, UpdateCommand, WhereCommand>;

struct ParseResult {
    std::optional<Command> command;  // set exactly when error is None
    MediaError error = MediaError::None;
};

// Largest accepted side of a destination rectangle, and largest distance of its
// corner from the window's origin.
inline constexpr int32_t kMaxDestinationSide = 16384;
inline constexpr int32_t kMaxDestinationOffset = 65536;

ParseResult parse_command(std::string_view text);

// The blank-separated words of `text`.
std::vector<std::string_view> split_words(std::string_view text);

// A whole word as a decimal integer with optional sign. nullopt when it is not one;
// `overflow` (if given) is set when it is one but does not fit 64 bits.
std::optional<int64_t> parse_integer(std::string_view word, bool* overflow = nullptr);

// The alias every command names (lower case).
const std::string& alias_of(const Command& command);

}  // namespace tambrel::media

#pragma once
// The command line of tambrel-compose, read into settings without touching any file.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "compose/blend.h"

namespace tambrel::compose_cli {

// Exit statuses, as --help documents them.
inline constexpr int kExitOk = 0;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitClip = 3;
inline constexpr int kExitOutput = 4;

// Largest frame number or count the options take.
inline constexpr int64_t kMaxOptionValue = 2147483647;

// What --fit fits to the positions --track finds.
enum class TrackFit { Line, Parabola, Sine };

struct ComposeOptions {
    std::string clip;
    std::string output;  // the composite; may be empty with `track`
    int64_t start = 0;
    int64_t step = 1;
    std::optional<int64_t> count;  // frames merged, the seed included; none: to the end
    Priority priority = Priority::White;
    // The empty scene difference priority measures against; neither: the median of
    // frames spread over the run.
    std::optional<int64_t> background_frame;
    std::string background_image;
    bool as_shown = false;
    bool strict = false;                // a frame that cannot be decoded ends the run
    bool verbose = false;               // libav's and the service's own messages on standard error
    std::optional<int64_t> memory_mib;  // the memory budget; none: the environment's or 512
    std::string track;                  // the positions of the moving object, as CSV
    std::optional<double> scale;        // metres per pixel of the clip, for the positions
    std::optional<TrackFit> fit;        // printed on standard output
    bool operator==(const ComposeOptions&) const = default;
};

struct HelpRequest {
    bool operator==(const HelpRequest&) const = default;
};

// One line, without the program's name or a newline.
struct UsageError {
    std::string message;
    bool operator==(const UsageError&) const = default;
};

using ParsedArguments = std::variant<ComposeOptions, HelpRequest, UsageError>;

// `args` excludes the program's name. Options may come before or after the clip, with
// their value as the next argument or after '=' ("--step=3", "-oOUT"); "--" ends the
// options. The first problem found is reported; -h/--help is honoured where it appears
// before any problem.
ParsedArguments parse_arguments(std::span<const std::string_view> args);

enum class Language { English, Japanese };

// The language of the user's locale for messages: Japanese when the first of LC_ALL,
// LC_MESSAGES and LANG that is set and not empty starts with "ja".
Language language_from_environment();

// The text of --help.
std::string_view help_text(Language language = Language::English);

}  // namespace tambrel::compose_cli

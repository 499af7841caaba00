#include "arguments.h"

#include <charconv>

namespace tambrel::compose_cli {

namespace {

constexpr std::string_view kHelp =
    R"(Usage: tambrel-compose CLIP -o OUT [--start N] [--step N] [--count K]
                       [--priority white|black] [--as-shown]

Makes the stroboscopic composite of an AVI clip without the window, with the same
media service and the same merge rule as the window's composition run.

The frame numbered --start seeds the composite; then every --step-th frame after it is
merged into it, until --count frames (the seed included) have been merged or the clip
ends. No frame is merged twice. At every pixel the whole colour of the brighter pixel
(white priority) or of the darker one (black priority) is kept, brightness being the
sum of red, green and blue; on a tie the new frame wins under white priority and the
composite keeps its colour under black priority, as in the window.

Options:
  -o, --output OUT        Where to write the composite. The format follows OUT's
                          extension (png, bmp, jpg, ppm, ... as Qt's image writers
                          offer them); no extension writes PNG. OUT appears only when
                          the whole run has succeeded: the picture is written to a
                          temporary file in OUT's folder and renamed over OUT.
      --start N           First frame, the seed (frames count from 0; default 0).
      --step N            Frames from one merged frame to the next (default 1).
      --count K           Frames to merge, the seed included (default: to the clip's
                          end). The run also stops at the clip's end.
      --priority white|black
                          White: keep the brighter pixel (a bright object on a dark
                          background). Black: keep the darker one. Default white.
      --as-shown          Write the picture the window's composite holds after a run
                          with the same settings, as the clipboard receives it: 366 x
                          286 pixels, white, with every frame fitted into the 316 x 236
                          frame area at its top left, only the top-left 313 x 233 pixels
                          merged (the three right columns and bottom rows of the frame
                          area keep the seed), and the scale drawn over it as the
                          window draws it after each frame (a 40-pixel unit, numbers 1
                          to 8 left to right and 1 to 6 top to bottom).
                          Without --as-shown the composite has the clip's own size and
                          the whole frame is merged, with no scale.
  -h, --help              Show this text.

Options take their value as the next argument or after '=' (--step=3, -oOUT); "--"
ends the options.

While it runs, a progress bar is shown on standard error when that is a terminal.

Exit status:
  0  the composite was written
  2  usage: an unknown or repeated option, a missing or malformed value, no clip or
     no output, an output format no image writer knows, OUT naming the clip itself,
     or --start past the clip's last frame
  3  the clip cannot be opened, or one of its frames cannot be decoded
  4  the output cannot be written
Every failure is reported as one line on standard error, and leaves OUT untouched.

Example: every third frame of the sample, as the window shows it:
  tambrel-compose pendulum.avi -o composite.png --step 3 --as-shown
)";

// A whole decimal number in [low, kMaxOptionValue]; no sign, blank or other character.
std::optional<int64_t> whole_number(std::string_view text, int64_t low) {
    if (text.empty() || text.front() < '0' || text.front() > '9') return std::nullopt;
    int64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    if (value < low || value > kMaxOptionValue) return std::nullopt;
    return value;
}

std::string quoted(std::string_view s) { return "'" + std::string(s) + "'"; }

enum class Option { Output, Start, Step, Count, Priority, AsShown, Help };

struct Spelling {
    std::string_view name;
    Option option;
    bool takes_value;
};

constexpr Spelling kLongOptions[] = {
    {"--output", Option::Output, true},     {"--start", Option::Start, true},
    {"--step", Option::Step, true},         {"--count", Option::Count, true},
    {"--priority", Option::Priority, true}, {"--as-shown", Option::AsShown, false},
    {"--help", Option::Help, false},
};

}  // namespace

std::string_view help_text() { return kHelp; }

ParsedArguments parse_arguments(std::span<const std::string_view> args) {
    ComposeOptions o;
    bool seen[7] = {};
    bool have_clip = false;
    bool options_ended = false;

    for (size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        const bool looks_like_option = !options_ended && arg.size() > 1 && arg.front() == '-';
        if (!looks_like_option) {
            if (have_clip)
                return UsageError{"only one clip may be given (" + quoted(o.clip) + " and " +
                                  quoted(arg) + ")"};
            if (arg.empty()) return UsageError{"the clip's name is empty"};
            o.clip = std::string(arg);
            have_clip = true;
            continue;
        }
        if (arg == "--") {
            options_ended = true;
            continue;
        }

        // Which option, and its value when written in the same argument.
        std::optional<Spelling> found;
        std::optional<std::string_view> inline_value;
        std::string_view name = arg;
        if (arg.starts_with("--")) {
            if (const size_t eq = arg.find('='); eq != std::string_view::npos) {
                name = arg.substr(0, eq);
                inline_value = arg.substr(eq + 1);
            }
            for (const Spelling& s : kLongOptions)
                if (s.name == name) found = s;
        } else if (arg[1] == 'o') {
            name = "-o";
            found = Spelling{"-o", Option::Output, true};
            if (arg.size() > 2) inline_value = arg.substr(2);
        } else if (arg == "-h") {
            found = Spelling{"-h", Option::Help, false};
        }
        if (!found) return UsageError{"unknown option " + quoted(name) + " (see --help)"};
        if (found->option == Option::Help) {
            if (inline_value) return UsageError{std::string(name) + " takes no value"};
            return HelpRequest{};
        }
        bool& repeated = seen[static_cast<int>(found->option)];
        if (repeated) return UsageError{std::string(name) + " is given more than once"};
        repeated = true;

        std::string_view value;
        if (found->takes_value) {
            if (inline_value) {
                value = *inline_value;
            } else if (i + 1 < args.size()) {
                value = args[++i];
            } else {
                return UsageError{std::string(name) + " needs a value"};
            }
        } else if (inline_value) {
            return UsageError{std::string(name) + " takes no value"};
        }

        switch (found->option) {
            case Option::Output:
                if (value.empty()) return UsageError{"the output's name is empty"};
                o.output = std::string(value);
                break;
            case Option::Start:
            case Option::Step:
            case Option::Count: {
                const int64_t low = found->option == Option::Start ? 0 : 1;
                const auto n = whole_number(value, low);
                if (!n)
                    return UsageError{std::string(name) + " needs a whole number from " +
                                      std::to_string(low) + " to " +
                                      std::to_string(kMaxOptionValue) + ", not " + quoted(value)};
                if (found->option == Option::Start) o.start = *n;
                if (found->option == Option::Step) o.step = *n;
                if (found->option == Option::Count) o.count = *n;
                break;
            }
            case Option::Priority:
                if (value == "white") {
                    o.priority = Priority::White;
                } else if (value == "black") {
                    o.priority = Priority::Black;
                } else {
                    return UsageError{"--priority needs white or black, not " + quoted(value)};
                }
                break;
            case Option::AsShown:
                o.as_shown = true;
                break;
            case Option::Help:
                break;
        }
    }
    if (!have_clip) return UsageError{"no clip given (see --help)"};
    if (o.output.empty()) return UsageError{"no output given: -o OUT"};
    return o;
}

}  // namespace tambrel::compose_cli

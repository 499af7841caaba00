#include "app/command_line.h"

namespace tambrel {

namespace {

constexpr std::string_view kHelp =
    R"(Usage: tambrel [OPTION]... [FILE]
Study motion in a video clip with stroboscopic composites.

Tambrel opens a video clip (a swinging pendulum, a rolling ball, a bouncing cart),
plays it and steps through it frame by frame. A composition run then steps the clip a
chosen number of frames at a time and merges each new frame into one composite
picture, keeping at every pixel the brighter colour (white priority) or the darker one
(black priority), so that the moving object appears once for every sampled frame.
A scale with a unit of 40 pixels is drawn over the composite; the pointer's position on
it, and the displacement and distance of a drag, are read out as numbers. Each cycle
puts the composite on the clipboard, to be pasted into a worksheet or a report.
The window's text is Japanese.

FILE, if given, is opened at start as if chosen with ﾌｧｲﾙ（F） › 開く(O).

Options:
  -h, --help     show this help and exit
      --version  show the version and exit

Qt's standard options (for example -platform, -display, -style) are accepted too.
)";

std::string quoted(std::string_view text) { return "'" + std::string(text) + "'"; }

}  // namespace

CommandLine CommandLine::parse(std::span<const std::string_view> args) {
    CommandLine line;
    for (const std::string_view arg : args) {
        if (arg == "--") break;
        if (arg == "--help" || arg == "-h" || arg == "--version") {
            line.request_ = arg == "--version" ? Request::Version : Request::Help;
            return line;
        }
    }
    const auto refuse = [&line](std::string error) {
        line.request_ = Request::Usage;
        line.error_ = std::move(error);
        line.file_.reset();
        return line;
    };
    bool options_ended = false;
    for (const std::string_view arg : args) {
        if (!options_ended && arg == "--") {
            options_ended = true;
        } else if (!options_ended && arg.size() > 1 && arg.front() == '-') {
            return refuse("unknown option " + quoted(arg));
        } else if (arg.empty()) {
            return refuse("an empty file name");
        } else if (line.file_) {
            return refuse("one clip at a time: " + quoted(*line.file_) + " and " + quoted(arg));
        } else {
            line.file_ = std::string(arg);
        }
    }
    return line;
}

std::string_view CommandLine::help_text() { return kHelp; }

std::string CommandLine::version_text(std::string_view version) {
    return "tambrel " + std::string(version) +
           "\nCopyright (C) 2026 the Tambrel developers\n"
           "License GPLv3+: GNU GPL version 3 or later <https://gnu.org/licenses/gpl.html>.\n"
           "This is free software: you are free to change and redistribute it.\n"
           "There is NO WARRANTY, to the extent permitted by law.\n";
}

}  // namespace tambrel

#include "media/service/command_parser.h"

#include <limits>
#include <span>

#include "media/service/path_codec.h"

namespace tambrel::media {

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool same_word(std::string_view word, std::string_view keyword) {
    if (word.size() != keyword.size()) return false;
    for (size_t i = 0; i < word.size(); ++i)
        if (lower(word[i]) != keyword[i]) return false;
    return true;
}

std::string folded(std::string_view word) {
    std::string out(word);
    for (char& c : out) c = lower(c);
    return out;
}

ParseResult fail(MediaError e) { return {std::nullopt, e}; }

template <typename T>
ParseResult ok(T command) {
    return {Command{std::move(command)}, MediaError::None};
}

// An integer word that must fit 32 bits: BadParameter when it is not a number,
// OutOfRange when it is one but too large.
MediaError int32_word(std::string_view word, int32_t& out) {
    bool overflow = false;
    const auto v = parse_integer(word, &overflow);
    if (overflow) return MediaError::OutOfRange;
    if (!v) return MediaError::BadParameter;
    if (*v < std::numeric_limits<int32_t>::min() || *v > std::numeric_limits<int32_t>::max())
        return MediaError::OutOfRange;
    out = static_cast<int32_t>(*v);
    return MediaError::None;
}

ParseResult parse_open(std::span<const std::string_view> w) {
    // w[0] is the verb.
    if (w.size() < 2) return fail(MediaError::BadParameter);
    auto path = decode_command_path(w[1]);
    // A NUL would end the path early for the file system: two different commands
    // would open the same file.
    if (!path || path->empty() || path->find('\0') != std::string::npos)
        return fail(MediaError::BadParameter);
    OpenCommand cmd{std::move(*path), {}, {}};
    bool have_alias = false, have_style = false;
    for (size_t i = 2; i < w.size(); ++i) {
        if (same_word(w[i], "alias") && !have_alias) {
            if (++i >= w.size()) return fail(MediaError::BadParameter);
            cmd.alias = folded(w[i]);
            have_alias = true;
        } else if (same_word(w[i], "style") && !have_style) {
            // Only a child window is offered; the other window styles need a desktop
            // window of their own, which this service does not make.
            if (++i >= w.size() || !same_word(w[i], "child")) return fail(MediaError::BadParameter);
            have_style = true;
        } else if (same_word(w[i], "parent") && !cmd.parent) {
            if (++i >= w.size()) return fail(MediaError::BadParameter);
            int32_t handle = 0;
            if (const auto e = int32_word(w[i], handle); e != MediaError::None) return fail(e);
            cmd.parent = handle;
        } else {
            return fail(MediaError::BadParameter);
        }
    }
    if (!have_alias) return fail(MediaError::BadParameter);
    return ok(std::move(cmd));
}

ParseResult parse_put(std::span<const std::string_view> w, std::string alias) {
    if (w.size() < 3 || !same_word(w[2], "destination")) return fail(MediaError::BadParameter);
    if (w.size() == 3) return ok(DestinationCommand{std::move(alias), std::nullopt});
    if (!same_word(w[3], "at") || w.size() != 8) return fail(MediaError::BadParameter);
    int32_t v[4];
    for (int i = 0; i < 4; ++i)
        if (const auto e = int32_word(w[4 + i], v[i]); e != MediaError::None) return fail(e);
    const DestinationRect r{v[0], v[1], v[2], v[3]};
    if (r.width <= 0 || r.height <= 0 || r.width > kMaxDestinationSide ||
        r.height > kMaxDestinationSide || r.x < -kMaxDestinationOffset ||
        r.x > kMaxDestinationOffset || r.y < -kMaxDestinationOffset || r.y > kMaxDestinationOffset)
        return fail(MediaError::OutOfRange);
    return ok(DestinationCommand{std::move(alias), r});
}

}  // namespace

std::vector<std::string_view> split_words(std::string_view text) {
    std::vector<std::string_view> words;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && is_blank(text[i])) ++i;
        const size_t start = i;
        while (i < text.size() && !is_blank(text[i])) ++i;
        if (i > start) words.push_back(text.substr(start, i - start));
    }
    return words;
}

std::optional<int64_t> parse_integer(std::string_view word, bool* overflow) {
    if (overflow) *overflow = false;
    size_t i = 0;
    bool negative = false;
    if (i < word.size() && (word[i] == '-' || word[i] == '+')) negative = word[i++] == '-';
    if (i == word.size()) return std::nullopt;
    uint64_t magnitude = 0;
    bool too_big = false;
    for (; i < word.size(); ++i) {
        const char c = word[i];
        if (c < '0' || c > '9') return std::nullopt;
        if (magnitude > (std::numeric_limits<uint64_t>::max() - 9) / 10) too_big = true;
        if (!too_big) magnitude = magnitude * 10 + static_cast<uint64_t>(c - '0');
    }
    const uint64_t limit = negative ? uint64_t{1} << 63 : (uint64_t{1} << 63) - 1;
    if (too_big || magnitude > limit) {
        if (overflow) *overflow = true;
        return std::nullopt;
    }
    return negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
}

ParseResult parse_command(std::string_view text) {
    if (text.find('\0') != std::string_view::npos) return fail(MediaError::BadParameter);
    // Line ends of every kind and trailing blanks are not part of the command.
    while (!text.empty() && (is_blank(text.back()) || text.back() == '\r' || text.back() == '\n'))
        text.remove_suffix(1);
    const auto words = split_words(text);
    if (words.empty()) return fail(MediaError::UnknownCommand);
    const std::string_view verb = words[0];
    const std::span<const std::string_view> w(words);

    if (same_word(verb, "open")) return parse_open(w);

    // Every other command names its device next.
    static constexpr std::string_view kVerbs[] = {"close", "put",  "status", "play",   "pause",
                                                  "stop",  "step", "seek",   "update", "where"};
    bool known = false;
    for (const auto v : kVerbs) known = known || same_word(verb, v);
    if (!known) return fail(MediaError::UnknownCommand);
    if (words.size() < 2) return fail(MediaError::BadParameter);
    std::string alias = folded(words[1]);
    const size_t extra = words.size() - 2;  // words after the alias

    if (same_word(verb, "close")) {
        if (extra) return fail(MediaError::BadParameter);
        return ok(CloseCommand{std::move(alias)});
    }
    if (same_word(verb, "put")) return parse_put(w, std::move(alias));
    if (same_word(verb, "status")) {
        if (extra == 1) {
            if (same_word(words[2], "length"))
                return ok(StatusCommand{std::move(alias), StatusItem::Length});
            if (same_word(words[2], "position"))
                return ok(StatusCommand{std::move(alias), StatusItem::Position});
            if (same_word(words[2], "time"))
                return ok(StatusCommand{std::move(alias), StatusItem::Time});
        } else if (extra == 2 && same_word(words[3], "rate")) {
            if (same_word(words[2], "frame"))
                return ok(StatusCommand{std::move(alias), StatusItem::FrameRate});
            if (same_word(words[2], "capture"))
                return ok(StatusCommand{std::move(alias), StatusItem::CaptureRate});
        }
        return fail(MediaError::BadParameter);
    }
    if (same_word(verb, "play")) {
        // The video always shows in the device's own window, so "window" adds nothing.
        if (extra > 1 || (extra == 1 && !same_word(words[2], "window")))
            return fail(MediaError::BadParameter);
        return ok(PlayCommand{std::move(alias)});
    }
    if (same_word(verb, "pause") || same_word(verb, "stop")) {
        if (extra) return fail(MediaError::BadParameter);
        if (same_word(verb, "pause")) return ok(PauseCommand{std::move(alias)});
        return ok(StopCommand{std::move(alias)});
    }
    if (same_word(verb, "step")) {
        if (extra > 1 || (extra == 1 && !same_word(words[2], "reverse")))
            return fail(MediaError::BadParameter);
        return ok(StepCommand{std::move(alias), extra == 1});
    }
    if (same_word(verb, "seek")) {
        if (extra != 2 || !same_word(words[2], "to")) return fail(MediaError::BadParameter);
        bool overflow = false;
        const auto frame = parse_integer(words[3], &overflow);
        if (overflow) return fail(MediaError::OutOfRange);
        if (!frame) return fail(MediaError::BadParameter);
        return ok(SeekCommand{std::move(alias), *frame});
    }
    if (same_word(verb, "where")) {
        if (extra != 1 || !same_word(words[2], "source")) return fail(MediaError::BadParameter);
        return ok(WhereCommand{std::move(alias)});
    }
    // update
    if (extra != 2 || !same_word(words[2], "hdc")) return fail(MediaError::BadParameter);
    int32_t hdc = 0;
    if (const auto e = int32_word(words[3], hdc); e != MediaError::None) return fail(e);
    return ok(UpdateCommand{std::move(alias), hdc});
}

const std::string& alias_of(const Command& command) {
    return std::visit([](const auto& c) -> const std::string& { return c.alias; }, command);
}

}  // namespace tambrel::media

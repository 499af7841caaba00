#include "media/service/av_log.h"

extern "C" {
#include <libavutil/log.h>
}

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>

namespace tambrel::media::libav_log {

namespace {

// A piece of text libav sends without a line end longer than this is a line anyway.
constexpr size_t kLongestLine = 4096;

struct Route {
    std::mutex mutex;
    Sink sink;  // empty: nowhere
    size_t cap = kDefaultCap;
    size_t in_batch = 0;
    bool cap_told = false;
    Counts counts;
};

Route& route() {
    static Route r;
    return r;
}

// The most detailed level routed, as a number of Level; -1 while routed nowhere. Read
// without the lock so that a dropped message costs one load.
std::atomic<int> routed_level{-1};
std::atomic<int64_t> unrouted{0};

// libav builds some lines in pieces, and prefixes only the first piece of a line.
thread_local std::string pending;
thread_local int print_prefix = 1;

Level level_of(int av_level) {
    if (av_level <= AV_LOG_ERROR) return Level::Error;
    if (av_level <= AV_LOG_WARNING) return Level::Warning;
    if (av_level <= AV_LOG_INFO) return Level::Info;
    return Level::Detail;
}

// Damaged files put arbitrary bytes into messages (codec tags, stream names): nothing
// that could move a terminal's cursor or start an escape sequence gets through.
void make_printable(std::string& line) {
    for (char& c : line) {
        const auto u = static_cast<unsigned char>(c);
        if ((u < 0x20 && c != '\t') || u == 0x7f) c = '?';
    }
}

void pass_on(Level level, std::string line) {
    make_printable(line);
    Route& r = route();
    std::lock_guard lock(r.mutex);
    if (!r.sink) return;  // routed nowhere while the line was being built
    if (r.in_batch >= r.cap) {
        ++r.counts.held_back;
        if (!r.cap_told) {
            r.cap_told = true;
            r.sink(Level::Warning, "libav: more than " + std::to_string(r.cap) +
                                       " messages; the rest are left out");
        }
        return;
    }
    ++r.in_batch;
    ++r.counts.passed;
    r.sink(level, line);
}

void handler(void* avcl, int av_level, const char* fmt, va_list args) {
    const Level level = level_of(av_level & 0xff);  // the bits above carry a colour
    const int routed = routed_level.load(std::memory_order_relaxed);
    if (static_cast<int>(level) > routed) {
        if (routed < 0 && level <= Level::Warning) unrouted.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    char text[1024];
    va_list copy;
    va_copy(copy, args);
    const int needed =
        av_log_format_line2(avcl, av_level, fmt, copy, text, sizeof text, &print_prefix);
    va_end(copy);
    if (needed < 0) return;  // a format libav itself cannot expand
    pending += text;
    for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
        pass_on(level, pending.substr(0, end));
        pending.erase(0, end + 1);
    }
    if (pending.size() > kLongestLine) {
        pass_on(level, std::move(pending));
        pending.clear();
    }
}

}  // namespace

void install() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_callback(handler); });
}

void route_to(Sink sink, size_t cap, Level most_detailed) {
    Route& r = route();
    std::lock_guard lock(r.mutex);
    const bool nowhere = !sink;
    r.sink = std::move(sink);
    r.cap = cap;
    r.in_batch = 0;
    r.cap_told = false;
    routed_level.store(nowhere ? -1 : static_cast<int>(most_detailed));
}

void route_to_stderr(size_t cap, Level most_detailed) {
    route_to(
        [](Level, std::string_view line) {
            std::fprintf(stderr, "%.*s\n", static_cast<int>(line.size()), line.data());
        },
        cap, most_detailed);
}

void route_nowhere() { route_to({}); }

void new_batch() {
    Route& r = route();
    std::lock_guard lock(r.mutex);
    r.in_batch = 0;
    r.cap_told = false;
}

Counts counts() {
    Route& r = route();
    std::lock_guard lock(r.mutex);
    Counts c = r.counts;
    c.unrouted = unrouted.load();
    return c;
}

}  // namespace tambrel::media::libav_log

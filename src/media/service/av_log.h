#pragma once
// libav's own log messages ("[mpeg4 @ 0x…] ac-tex damaged"), through one handler of
// ours. By default they go nowhere: the service reports every failure with its own
// error numbers, and a damaged clip can make libav print thousands of lines, which
// would block a caller that reads a tool's output but not its error stream. A tool's
// verbose mode sends them to standard error, the window to its log through a sink;
// either way at most a set number per batch (one command, one run).
//
// This is the only place that calls av_log_set_callback. Thread-safe: libav logs from
// its decoding threads too.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>

namespace tambrel::media::libav_log {

// libav's levels, coarser: panic, fatal and error are Error; verbose, debug and trace
// are Detail.
enum class Level { Error, Warning, Info, Detail };

// Receives one line at a time, without its line end, with control bytes replaced by
// '?'. Called with the handler's lock held, from whichever thread logged: it must not
// call into libav or route messages itself.
using Sink = std::function<void(Level level, std::string_view line)>;

inline constexpr size_t kDefaultCap = 200;

// Puts our handler in place of libav's; later calls do nothing. The service calls it
// before it first touches libav, so a program that never routes anything prints nothing.
void install();

// Messages at `most_detailed` or more severe go to `sink`, at most `cap` per batch; the
// first one over the cap is replaced by a line saying the rest are left out.
void route_to(Sink sink, size_t cap = kDefaultCap, Level most_detailed = Level::Warning);
// route_to a sink that writes each line to standard error.
void route_to_stderr(size_t cap = kDefaultCap, Level most_detailed = Level::Warning);
// Drops every message (the default).
void route_nowhere();

// Starts a new batch: the cap counts from zero again.
void new_batch();

// Since the program started: messages handed to a sink, messages the cap held back, and
// errors and warnings dropped while routed nowhere.
struct Counts {
    int64_t passed = 0;
    int64_t held_back = 0;
    int64_t unrouted = 0;
};
Counts counts();

}  // namespace tambrel::media::libav_log

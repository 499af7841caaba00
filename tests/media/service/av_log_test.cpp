// libav's messages through our one handler: nothing reaches standard error unless
// routed; a sink gets whole, printable lines, at most its cap per batch.

#include "media/service/av_log.h"

#include <gtest/gtest.h>
#include <unistd.h>

extern "C" {
#include <libavutil/log.h>
}

#include <cstdio>
#include <string>
#include <vector>

namespace tambrel::media {
namespace {

// What the calls of `log` write to standard error, read back through a pipe.
template <typename Fn>
std::string standard_error_of(Fn log) {
    int pipe_ends[2];
    if (::pipe(pipe_ends) != 0) return "no pipe";
    std::fflush(stderr);
    const int saved = ::dup(STDERR_FILENO);
    ::dup2(pipe_ends[1], STDERR_FILENO);
    ::close(pipe_ends[1]);
    log();
    std::fflush(stderr);
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = ::read(pipe_ends[0], buffer, sizeof buffer)) > 0;) text.append(buffer, n);
    ::close(pipe_ends[0]);
    return text;
}

TEST(LibavLog, NothingUnlessRoutedThenWholeLinesUpToTheCapOfEachBatch) {
    libav_log::install();
    const auto damaged_chunk = [] {
        av_log(nullptr, AV_LOG_ERROR, "ac-tex damaged at %d %d\n", 12, 7);
        av_log(nullptr, AV_LOG_WARNING, "concealing %d DC errors\n", 30);
    };
    const libav_log::Counts before = libav_log::counts();
    EXPECT_EQ(standard_error_of(damaged_chunk), "");
    EXPECT_EQ(libav_log::counts().unrouted - before.unrouted, 2);

    std::vector<std::pair<libav_log::Level, std::string>> lines;
    libav_log::route_to(
        [&lines](libav_log::Level level, std::string_view line) {
            lines.emplace_back(level, std::string(line));
        },
        3);
    // A line logged in pieces arrives whole; escapes from a damaged file do not.
    av_log(nullptr, AV_LOG_ERROR, "stream tag '%s' ", "\x1b[2J");
    av_log(nullptr, AV_LOG_ERROR, "unknown\n");
    av_log(nullptr, AV_LOG_INFO, "an info line below the routed level\n");
    damaged_chunk();
    damaged_chunk();  // over the cap: one line says so, the rest are held back
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0],
              std::pair(libav_log::Level::Error, std::string("stream tag '?[2J' unknown")));
    EXPECT_EQ(lines[1], std::pair(libav_log::Level::Error, std::string("ac-tex damaged at 12 7")));
    EXPECT_EQ(lines[2],
              std::pair(libav_log::Level::Warning, std::string("concealing 30 DC errors")));
    EXPECT_EQ(lines[3].second, "libav: more than 3 messages; the rest are left out");

    libav_log::new_batch();
    damaged_chunk();
    EXPECT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[5].second, "concealing 30 DC errors");

    libav_log::route_to_stderr(10, libav_log::Level::Info);
    EXPECT_EQ(standard_error_of([] { av_log(nullptr, AV_LOG_INFO, "opened %s\n", "clip"); }),
              "opened clip\n");
    libav_log::route_nowhere();
    EXPECT_EQ(standard_error_of(damaged_chunk), "");
}

}  // namespace
}  // namespace tambrel::media

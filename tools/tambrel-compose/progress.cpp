#include "progress.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace tambrel::compose_cli {

std::string progress_line(int64_t done, int64_t total, int bar_width) {
    total = std::max<int64_t>(total, 1);
    done = std::clamp<int64_t>(done, 0, total);
    const int filled = static_cast<int>(done * bar_width / total);
    std::string bar(static_cast<size_t>(bar_width), ' ');
    std::fill_n(bar.begin(), filled, '=');
    if (filled < bar_width && done > 0) bar[static_cast<size_t>(filled)] = '>';
    char tail[64];
    std::snprintf(tail, sizeof tail, "] %3d%%  %lld/%lld frames",
                  static_cast<int>(done * 100 / total), static_cast<long long>(done),
                  static_cast<long long>(total));
    return "[" + bar + tail;
}

TerminalProgress::TerminalProgress() : active_(isatty(STDERR_FILENO) == 1) {}

void TerminalProgress::update(int64_t done, int64_t total) {
    if (!active_) return;
    // Redraw when the percentage moves or a tenth of a second has passed, and at the end:
    // a terminal that is written once per frame slows a fast run down.
    const int percent =
        static_cast<int>(std::clamp<int64_t>(done, 0, total) * 100 / std::max<int64_t>(total, 1));
    const auto now = std::chrono::steady_clock::now();
    if (percent == last_percent_ && done != total &&
        now - last_draw_ < std::chrono::milliseconds(100))
        return;
    last_percent_ = percent;
    last_draw_ = now;
    const std::string line = "\rtambrel-compose " + progress_line(done, total, 30);
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
    shown_ = true;
}

void TerminalProgress::finish() {
    if (!shown_) return;
    std::fputs("\r\033[K", stderr);  // back to the line's start and erase it
    std::fflush(stderr);
    shown_ = false;
}

}  // namespace tambrel::compose_cli

#pragma once
// The progress bar on standard error: drawn only when that is a terminal, redrawn in
// place, and taken away before anything else is written there.

#include <chrono>
#include <cstdint>
#include <string>

namespace tambrel::compose_cli {

// One state of the bar, without a line end: "[=====>    ]  45%  135/300 frames".
std::string progress_line(int64_t done, int64_t total, int bar_width);

class TerminalProgress {
  public:
    // Active when standard error is a terminal.
    TerminalProgress();
    ~TerminalProgress() { finish(); }
    TerminalProgress(const TerminalProgress&) = delete;
    TerminalProgress& operator=(const TerminalProgress&) = delete;

    void update(int64_t done, int64_t total);
    // Clears the bar's line so the next text starts at its beginning.
    void finish();

  private:
    bool active_ = false;
    bool shown_ = false;
    int last_percent_ = -1;
    std::chrono::steady_clock::time_point last_draw_{};
};

}  // namespace tambrel::compose_cli

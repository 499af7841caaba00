#pragma once
// One memory budget for the decoded pictures of a whole process: every open clip's
// working pictures, every step-back cache and every scratch picture draw from it, so
// that no clip, however large its pictures, and no number of open clips takes a
// process past it. Counted in bytes as the pictures really are (bit depth and chroma
// format included), before anything is allocated. Thread-safe: the composer's parts
// decode side by side.

#include <atomic>
#include <cstddef>
#include <utility>

namespace tambrel::media {

class MemoryBudget {
  public:
    static constexpr size_t kDefaultLimit = size_t{512} << 20;
    // The process's budget. Its first use reads TAMBREL_MEMORY_MB (whole mebibytes) from
    // the environment; without it, kDefaultLimit.
    static MemoryBudget& process();
    // A budget of its own (tests).
    explicit MemoryBudget(size_t limit) : limit_(limit) {}

    void set_limit(size_t bytes) { limit_ = bytes; }
    size_t limit() const { return limit_; }
    size_t used() const { return used_; }
    size_t available() const;

    // Takes `bytes` when they fit; false (and nothing taken) when they do not.
    bool take(size_t bytes);
    void give_back(size_t bytes);
    // The same for pictures kept only to be quick (the step-back caches): they may hold at
    // most half of the budget, so that a clip opened later always finds room for its
    // working pictures.
    bool take_for_cache(size_t bytes);
    void give_back_from_cache(size_t bytes);
    size_t used_by_caches() const { return cached_; }

  private:
    std::atomic<size_t> limit_;
    std::atomic<size_t> used_{0};
    std::atomic<size_t> cached_{0};
};

// Bytes held from a budget for as long as this lives.
class BudgetShare {
  public:
    BudgetShare() = default;
    // Empty (holds nothing) when the budget cannot give `bytes`.
    static BudgetShare take(MemoryBudget& budget, size_t bytes);
    ~BudgetShare() { reset(); }
    BudgetShare(BudgetShare&& o) noexcept
        : budget_(std::exchange(o.budget_, nullptr)), bytes_(std::exchange(o.bytes_, 0)) {}
    BudgetShare& operator=(BudgetShare&& o) noexcept {
        if (this != &o) {
            reset();
            budget_ = std::exchange(o.budget_, nullptr);
            bytes_ = std::exchange(o.bytes_, 0);
        }
        return *this;
    }
    explicit operator bool() const { return budget_ != nullptr; }
    size_t bytes() const { return bytes_; }
    void reset();

  private:
    MemoryBudget* budget_ = nullptr;
    size_t bytes_ = 0;
};

// Open clips a process keeps at once; each holds a decoder, its threads and a file.
inline constexpr size_t kMaxOpenDevices = 16;

}  // namespace tambrel::media

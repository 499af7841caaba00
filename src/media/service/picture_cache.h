#pragma once
// The step-back cache: decoded pictures kept by their display frame number, bounded by
// bytes and drawing from a memory budget, so that stepping back is served without
// decoding. Which pictures stay is decided by where the caller is going (the focus):
// those nearest to it, and before it only as many as the next requests can use.
//
// A template over the handle of a picture (the clip keeps shared AVFrames), so that the
// policy needs no decoder: the one who puts a picture says how many bytes it holds, and
// that count is what the cache and the budget book until the picture leaves.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <map>
#include <optional>
#include <utility>

#include "media/service/memory_budget.h"

namespace tambrel::media {

template <class Picture>
class PictureCache {
  public:
    static constexpr int64_t kKeepAll = INT64_MAX;

    // `budget` must outlive the cache.
    PictureCache(MemoryBudget& budget, size_t bound) : budget_(&budget), bound_(bound) {}
    ~PictureCache() { clear(); }
    PictureCache(const PictureCache&) = delete;
    PictureCache& operator=(const PictureCache&) = delete;

    // How many pictures before a target are worth keeping: all the cache holds when
    // stepping back (the next requests go further back, kKeepAll), a few seconds' worth
    // after a jump, where filling the whole cache would slow every seek for little gain.
    void set_keep_before(int64_t pictures) { keep_before_ = pictures; }
    // The window after a jump for pictures of `picture_bytes` each (0: not known yet): a
    // few seconds' worth of small pictures, fewer large ones (each kept picture costs the
    // decoder a fresh buffer).
    static constexpr int64_t kept_after_jump(size_t picture_bytes) {
        constexpr int64_t kPictures = 64;
        constexpr size_t kBytes = size_t{32} << 20;
        if (picture_bytes == 0) return kPictures;
        return std::clamp<int64_t>(static_cast<int64_t>(kBytes / picture_bytes), 8, kPictures);
    }

    // Keeps the picture of frame `frame`, decoded on the way to frame `focus`, unless it
    // is kept already. Pictures farthest from the focus make room for it, within the
    // cache's bound and what the budget gives; when no room can be made it is not kept.
    void put(int64_t frame, const Picture& picture, size_t bytes, int64_t focus) {
        if (kept_.contains(frame)) return;
        // A picture that would be pushed out again before the decode reaches the focus is
        // not kept: holding it only makes the decoder allocate fresh buffers.
        const auto distance = static_cast<uint64_t>(std::max<int64_t>(focus - frame, 0));
        if (bytes == 0 || distance > bound_ / bytes ||
            distance > static_cast<uint64_t>(keep_before_))
            return;
        while (!kept_.empty() && (bytes_ + bytes > bound_ || !budget_->take_for_cache(bytes)))
            evict_farthest_from(focus);
        if (kept_.empty() && (bytes > bound_ || !budget_->take_for_cache(bytes))) return;
        kept_.emplace(frame, Kept{picture, bytes});
        bytes_ += bytes;
    }

    // The picture of frame `frame`; null when it is not kept.
    const Picture* find(int64_t frame) const {
        const auto it = kept_.find(frame);
        return it == kept_.end() ? nullptr : &it->second.picture;
    }
    // The kept frame nearest at or before `frame`, with its picture.
    std::optional<std::pair<int64_t, Picture>> last_at_or_before(int64_t frame) const {
        auto it = kept_.upper_bound(frame);
        if (it == kept_.begin()) return std::nullopt;
        --it;
        return std::pair{it->first, it->second.picture};
    }

    // Lets every picture go and gives its bytes back to the budget.
    void clear() {
        kept_.clear();
        budget_->give_back_from_cache(bytes_);
        bytes_ = 0;
    }

    size_t bytes() const { return bytes_; }
    size_t count() const { return kept_.size(); }
    size_t bound() const { return bound_; }
    // A new bound starts from an empty cache.
    void set_bound(size_t bytes) {
        bound_ = bytes;
        clear();
    }

  private:
    struct Kept {
        Picture picture;
        size_t bytes;
    };

    // Pictures lie on both sides of the focus; the end farther from it goes (the earlier
    // one on a tie).
    void evict_farthest_from(int64_t focus) {
        const auto first = kept_.begin();
        const auto last = std::prev(kept_.end());
        const auto victim = (focus - first->first >= last->first - focus) ? first : last;
        bytes_ -= victim->second.bytes;
        budget_->give_back_from_cache(victim->second.bytes);
        kept_.erase(victim);
    }

    MemoryBudget* budget_;
    std::map<int64_t, Kept> kept_;  // by display frame number
    size_t bytes_ = 0;
    size_t bound_;
    int64_t keep_before_ = kKeepAll;
};

}  // namespace tambrel::media

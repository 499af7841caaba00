#include "media/service/frame_index.h"

#include <algorithm>

namespace tambrel::media {

FrameIndex::FrameIndex(std::vector<IndexEntry> entries, int64_t header_frames) {
    std::erase_if(entries, [](const IndexEntry& e) { return e.slot < 0; });
    std::stable_sort(entries.begin(), entries.end(),
                     [](const IndexEntry& a, const IndexEntry& b) { return a.slot < b.slot; });
    entries.erase(
        std::unique(entries.begin(), entries.end(),
                    [](const IndexEntry& a, const IndexEntry& b) { return a.slot == b.slot; }),
        entries.end());
    entries_ = std::move(entries);
    length_ = std::max<int64_t>(header_frames, entries_.empty() ? 0 : entries_.back().slot + 1);
}

size_t FrameIndex::position_of(int64_t slot) const {
    const auto it = std::upper_bound(entries_.begin(), entries_.end(), slot,
                                     [](int64_t s, const IndexEntry& e) { return s < e.slot; });
    return it == entries_.begin() ? 0 : static_cast<size_t>(it - entries_.begin()) - 1;
}

int64_t FrameIndex::picture_of(int64_t n) const { return entries_[position_of(n)].slot; }

bool FrameIndex::is_data(int64_t slot) const {
    return !entries_.empty() && entries_[position_of(slot)].slot == slot;
}

const IndexEntry& FrameIndex::key_at_or_before(int64_t slot) const {
    for (size_t i = position_of(slot) + 1; i-- > 0;)
        if (entries_[i].key) return entries_[i];
    return entries_.front();
}

std::optional<IndexEntry> FrameIndex::key_before(int64_t slot) const {
    if (entries_.empty() || slot <= entries_.front().slot) return std::nullopt;
    const IndexEntry& e = key_at_or_before(slot - 1);
    if (e.slot >= slot) return std::nullopt;
    return e;
}

void FrameIndex::mark_not_key(int64_t slot) {
    const size_t i = position_of(slot);
    if (i > 0 && entries_[i].slot == slot) entries_[i].key = false;
}

void FrameIndex::keep_first_key_only() {
    for (size_t i = 1; i < entries_.size(); ++i) entries_[i].key = false;
}

size_t FrameIndex::key_count() const {
    return static_cast<size_t>(
        std::count_if(entries_.begin(), entries_.end(), [](const IndexEntry& e) { return e.key; }));
}

}  // namespace tambrel::media

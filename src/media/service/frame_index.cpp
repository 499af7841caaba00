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

std::optional<int64_t> PresentationIndex::frame_of(int64_t stamp) const {
    const auto it = std::lower_bound(pts.begin(), pts.end(), stamp);
    if (it == pts.end() || *it != stamp) return std::nullopt;
    return it - pts.begin();
}

PresentationIndex presentation_index(std::span<const PacketInfo> packets, SeekBy seek_by,
                                     bool dts_is_pts) {
    struct Shown {
        int64_t pts;
        size_t order;  // decode order, to keep equal stamps stable
        int64_t stamp;
        bool key;
    };
    const auto stamp_of = [seek_by](const PacketInfo& p) {
        switch (seek_by) {
            case SeekBy::Dts:
                return p.dts != PacketInfo::kNoTime ? p.dts : p.pts;
            case SeekBy::Pts:
                return p.pts != PacketInfo::kNoTime ? p.pts : p.dts;
            case SeekBy::Byte:
                return p.pos;
        }
        return p.pos;
    };
    PresentationIndex out;
    std::vector<Shown> shown;
    shown.reserve(packets.size());
    std::optional<int64_t> inherited_start;  // a start point met on a packet never shown
    for (size_t i = 0; i < packets.size(); ++i) {
        const PacketInfo& p = packets[i];
        if (p.discard) {
            if (p.key) inherited_start = stamp_of(p);
            continue;
        }
        int64_t pts = p.pts;
        if (pts == PacketInfo::kNoTime && dts_is_pts) pts = p.dts;
        if (pts == PacketInfo::kNoTime) {
            ++out.untimed;
            continue;
        }
        bool key = p.key;
        int64_t stamp = stamp_of(p);
        if (inherited_start && !key) {
            key = true;
            stamp = *inherited_start;
        }
        inherited_start.reset();
        shown.push_back({pts, i, stamp, key});
    }
    std::stable_sort(shown.begin(), shown.end(),
                     [](const Shown& a, const Shown& b) { return a.pts < b.pts; });
    // Pictures shown before the first start point (the rest of a group cut off at the
    // start of a recording, or leading pictures that refer to it) cannot be decoded
    // from anywhere: they are not frames of the clip.
    const auto first_key =
        std::find_if(shown.begin(), shown.end(), [](const Shown& s) { return s.key; });
    shown.erase(shown.begin(), first_key == shown.end() ? shown.begin() : first_key);
    std::vector<IndexEntry> entries;
    entries.reserve(shown.size());
    out.pts.reserve(shown.size());
    for (size_t n = 0; n < shown.size(); ++n) {
        entries.push_back({static_cast<int64_t>(n), shown[n].stamp, shown[n].key});
        out.pts.push_back(shown[n].pts);
    }
    out.index = FrameIndex(std::move(entries), static_cast<int64_t>(shown.size()));
    return out;
}

}  // namespace tambrel::media

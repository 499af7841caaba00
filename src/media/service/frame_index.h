#pragma once
// Which frame slots of a clip carry a picture and which of them a decoder can start at.
// Pure: built from the container's index at open, no decoding.
//
// Frames are numbered 0 .. length - 1 in presentation order. A slot with no entry here
// is an empty chunk (a capture tool's "repeat the previous frame") and shows the
// picture of the nearest data slot before it.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace tambrel::media {

struct IndexEntry {
    int64_t slot = 0;   // frame number of the chunk
    int64_t stamp = 0;  // the container's own timestamp, used to seek to it
    bool key = false;   // the container says a decoder may start here
};

class FrameIndex {
  public:
    FrameIndex() = default;
    // `entries` are the chunks that carry data, in any order; a slot given twice keeps
    // its first entry and negative slots are dropped. `header_frames` is the
    // container's frame count, empty entries included.
    FrameIndex(std::vector<IndexEntry> entries, int64_t header_frames);

    bool empty() const { return entries_.empty(); }
    // The larger of the container's count and the last data slot + 1.
    int64_t length() const { return length_; }
    size_t data_frames() const { return entries_.size(); }

    // The data slot whose picture frame n shows: the last data slot <= n, or the first
    // data slot when n lies before all of them. Requires !empty().
    int64_t picture_of(int64_t n) const;
    bool is_data(int64_t slot) const;

    // The start point for decoding data slot `slot`: the last key entry at or before
    // it, or the first entry when none is marked key (decoding then starts at the
    // beginning of the stream).
    const IndexEntry& key_at_or_before(int64_t slot) const;
    // The key entry strictly before `slot`; nullopt when there is none.
    std::optional<IndexEntry> key_before(int64_t slot) const;
    // Record that decoding at `slot` did not start a picture (files whose index marks
    // every chunk as key). The first entry always stays a start point.
    void mark_not_key(int64_t slot);
    // Only the first entry remains a start point (decoding always begins at the start).
    void keep_first_key_only();
    size_t key_count() const;

  private:
    size_t position_of(int64_t slot) const;  // index of last entry with slot <= given
    std::vector<IndexEntry> entries_;        // sorted by slot, unique
    int64_t length_ = 0;
};

// ---- Containers that stamp each packet with its presentation time ----

// One video packet as the demuxer reads it, in decode order.
struct PacketInfo {
    static constexpr int64_t kNoTime = INT64_MIN;
    int64_t pts = kNoTime;  // presentation stamp in the stream's time base
    int64_t dts = kNoTime;  // decode stamp
    int64_t pos = -1;       // byte position in the file; -1 when unknown
    bool key = false;       // a decoder may start here
    bool discard = false;   // decoded for the frames that follow, never shown (edit lists)
};

// How the container finds a packet again: by its decode stamp (MP4/MOV sample tables),
// its presentation stamp (Matroska cues), or its byte position (streams without an
// index, such as MPEG transport and program streams).
enum class SeekBy { Dts, Pts, Byte };

// Frames numbered in presentation order: frame n is the packet with the n-th smallest
// presentation stamp among those shown. Each entry's stamp is what SeekBy names.
struct PresentationIndex {
    FrameIndex index;
    std::vector<int64_t> pts;  // pts[n] of frame n, in increasing order
    size_t untimed = 0;        // shown packets left out for carrying no time at all
    // The frame a decoded picture stamped `pts` is; nullopt when no frame has that stamp.
    std::optional<int64_t> frame_of(int64_t pts) const;
};

// Packets without a presentation stamp take their decode stamp when `dts_is_pts` (a
// stream that does not reorder). A key packet that is never shown (before an edit
// list's start) passes its start point on to the next shown packet in decode order.
PresentationIndex presentation_index(std::span<const PacketInfo> packets, SeekBy seek_by,
                                     bool dts_is_pts);

}  // namespace tambrel::media

#include "media/service/frame_numbering.h"

#include <QtGlobal>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "media/service/file_source.h"

namespace tambrel::media {

namespace {

// Packets an index pass reads at most: a hostile file ends the pass, not the machine.
constexpr int64_t kMaxScannedPackets = 50'000'000;

constexpr AVRational kNanoseconds{1, 1'000'000'000};

void warn_av(const char* what, int err) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(err, text, sizeof text);
    qWarning("media: %s: %s", what, text);
}

int read_any_packet(StreamScan& scan) {
    return read_stream_packet(scan.fmt, scan.stream, scan.pkt,
                              [](const AVPacket&) { return true; });
}

bool numbered_by_slot(const AVInputFormat& format) { return std::strcmp(format.name, "avi") == 0; }

// The palette an AVI stores after its BITMAPINFOHEADER, as the demuxer reads it: the
// last entries of the codec's extra data, before an optional "BottomUp" tag.
Palette header_palette(const AVCodecParameters& par) {
    Palette out{};
    const int entries = 1 << par.bits_per_coded_sample;
    const int size = std::min(entries * 4, par.extradata_size);
    const uint8_t* src = par.extradata + par.extradata_size - size;
    if (src - par.extradata >= 9 &&
        std::memcmp(par.extradata + par.extradata_size - 9, "BottomUp", 9) == 0)
        src -= 9;
    for (int i = 0; i < size / 4; ++i) {
        const uint32_t argb = 0xFF000000u | (uint32_t{src[4 * i]} | uint32_t{src[4 * i + 1]} << 8 |
                                             uint32_t{src[4 * i + 2]} << 16);
        std::memcpy(out.data() + 4 * i, &argb, 4);  // native order, as decoders read it
    }
    return out;
}

// Whether every picture shown carries a presentation stamp of its own.
bool stamps_usable(const std::vector<PacketInfo>& packets) {
    std::vector<int64_t> stamps;
    stamps.reserve(packets.size());
    for (const PacketInfo& p : packets) {
        if (p.discard) continue;
        if (p.pts == PacketInfo::kNoTime) return false;
        stamps.push_back(p.pts);
    }
    std::sort(stamps.begin(), stamps.end());
    return std::adjacent_find(stamps.begin(), stamps.end()) == stamps.end();
}

// The picture coding type of an MPEG-1/2 video packet (1 I, 2 P, 3 B, 4 D) from its
// picture header (start code 00 00 01 00); 0 when the packet holds none.
int mpeg12_picture_type(const uint8_t* data, int size) {
    for (int i = 0; i + 5 < size; ++i)
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1 && data[i + 3] == 0)
            return (data[i + 5] >> 3) & 7;
    return 0;
}

// ---- By slot ---------------------------------------------------------------------------

class SlotNumbering final : public FrameNumbering {
  public:
    static std::unique_ptr<FrameNumbering> build(StreamScan& scan, FrameIndex& index);

    // The number comes from the chunk a picture comes out with, which frame threads would
    // shift.
    bool frame_threads() const override { return false; }
    const char* bitstream_filter(const AVCodecParameters& par) const override {
        // Packed B-frames (a B riding in its P's chunk, an empty placeholder after it)
        // would give pictures in the wrong slots; the filter puts each in its own chunk.
        return par.codec_id == AV_CODEC_ID_MPEG4 ? "mpeg4_unpack_bframes" : nullptr;
    }
    const Palette* palette() const override { return palette_ ? &*palette_ : nullptr; }
    int64_t delay() const override { return delay_; }
    bool tail_missing() const override { return tail_missing_; }
    // libavformat marks a chunk it could read only in part as corrupt.
    bool read_in_part(const AVPacket& p) const override {
        return (p.flags & AV_PKT_FLAG_CORRUPT) != 0;
    }

    int seek(AVFormatContext& fmt, int stream, const IndexEntry& start) override {
        const int r = av_seek_frame(&fmt, stream, start.stamp, AVSEEK_FLAG_BACKWARD);
        if (r >= 0) last_seen_ = start.slot - 1;
        return r;
    }
    // The demuxer lands on the start point's chunk itself.
    bool admit(const AVPacket&) override { return true; }
    int64_t number_of(const AVPacket& p) const override { return p.dts; }
    int64_t display_of(const AVFrame& f) override {
        int64_t ts = f.pkt_dts;
        if (ts == AV_NOPTS_VALUE) ts = f.best_effort_timestamp;
        // Pictures drained at the end of the stream carry no time: they follow in order.
        last_seen_ = ts == AV_NOPTS_VALUE ? last_seen_ + 1 : ts - delay_;
        return last_seen_;
    }
    bool shown(const AVFrame&) const override { return true; }
    int64_t first_picture(const AVFrame& pic, const IndexEntry& first, FrameIndex& index) override;

    int64_t time_ns(int64_t n) const override {
        return av_rescale_q_rnd(n, time_base_, kNanoseconds,
                                static_cast<AVRounding>(AV_ROUND_UP | AV_ROUND_PASS_MINMAX));
    }
    int64_t frame_at_ns(int64_t t, int64_t) const override {
        return av_rescale_q_rnd(t, kNanoseconds, time_base_, AV_ROUND_DOWN);
    }

  private:
    AVRational time_base_{1, 25};  // one slot
    std::optional<Palette> palette_;
    bool header_index_ = false;
    bool intra_only_ = false;
    // Slots after the last chunk are missing frames, not empty "repeat" chunks: the file
    // was cut short, or its header claims more frames than the file can hold.
    bool tail_missing_ = false;
    int64_t delay_ = 0;       // pkt_dts of an output picture minus its frame number
    int64_t last_seen_ = -1;  // display number of the last picture received
};

std::unique_ptr<FrameNumbering> SlotNumbering::build(StreamScan& scan, FrameIndex& index) {
    AVStream* st = scan.fmt.streams[scan.stream];
    const AVCodecParameters* par = st->codecpar;
    auto out = std::make_unique<SlotNumbering>();
    out->time_base_ = st->time_base;
    out->frame_duration_ = st->time_base;  // one slot of the stream lasts one unit
    out->header_index_ = scan.header_index;
    const AVCodecDescriptor* desc = avcodec_descriptor_get(par->codec_id);
    out->intra_only_ = desc && (desc->props & AV_CODEC_PROP_INTRA_ONLY);
    if (par->bits_per_coded_sample > 0 && par->bits_per_coded_sample <= 8 &&
        par->extradata_size > 0)
        out->palette_ = header_palette(*par);

    std::vector<IndexEntry> entries;
    const int n = scan.header_index ? avformat_index_get_entries_count(st) : 0;
    entries.reserve(static_cast<size_t>(std::max(n, 0)));
    for (int i = 0; i < n; ++i) {
        const AVIndexEntry* e = avformat_index_get_entry(st, i);
        if (!e || e->size <= 0) continue;
        entries.push_back({e->timestamp, e->timestamp, (e->flags & AVINDEX_KEYFRAME) != 0});
    }
    // The container's index can be short: a file cut inside its index lists only the
    // chunks before the cut. Walk the chunks after the last listed one (reading, not
    // decoding); in a whole file that is none. A file without an index (a capture cut
    // short, say) is walked from its first chunk.
    if (!entries.empty()) {
        const int r =
            av_seek_frame(&scan.fmt, scan.stream, entries.back().stamp, AVSEEK_FLAG_BACKWARD);
        if (r < 0) warn_av("seeking to the last listed chunk", r);
    }
    AVPacket& pkt = scan.pkt;
    for (int64_t count = 0; count < kMaxScannedPackets; ++count) {
        const int r = read_any_packet(scan);
        if (r < 0) {
            if (r != AVERROR_EOF) warn_av("scanning the file (taken as its end)", r);
            break;
        }
        const int64_t ts = pkt.dts != AV_NOPTS_VALUE ? pkt.dts : pkt.pts;
        if (pkt.size > 0 && ts != AV_NOPTS_VALUE)
            entries.push_back({ts, ts, (pkt.flags & AV_PKT_FLAG_KEY) != 0});
        av_packet_unref(&pkt);
    }
    const int64_t file_size = scan.source.size();
    unsigned char head[8] = {};  // "RIFF" and the size the file should have, less 8
    const bool have_head = scan.source.peek(0, head, sizeof head) == sizeof head;
    const uint64_t riff_size = head[4] | head[5] << 8 | head[6] << 16 | uint64_t{head[7]} << 24;
    const bool cut_short = have_head && std::memcmp(head, "RIFF", 4) == 0 &&
                           riff_size + 8 > static_cast<uint64_t>(file_size);
    // Every frame slot takes at least a chunk header of 8 bytes: a count beyond that is
    // no count at all, and the frames the file really holds make the length.
    const bool count_impossible = st->nb_frames > file_size / 8;
    // Otherwise the header's count stands, with or without an index: the frames it
    // promises past the last chunk of a file cut short (its RIFF size is larger than the
    // file) are lost. They fail to decode rather than vanish from the length, so a step
    // onto one beeps instead of quietly staying put.
    index = FrameIndex(std::move(entries), count_impossible ? 0 : st->nb_frames);
    if (index.empty()) return nullptr;
    out->tail_missing_ = cut_short;
    return out;
}

int64_t SlotNumbering::first_picture(const AVFrame& pic, const IndexEntry& first,
                                     FrameIndex& index) {
    // A decoder that reorders gives a picture only a few chunks later, stamped with the
    // later chunk's slot.
    const int64_t ts = pic.pkt_dts != AV_NOPTS_VALUE ? pic.pkt_dts : pic.best_effort_timestamp;
    delay_ = ts == AV_NOPTS_VALUE ? 0 : std::max<int64_t>(0, ts - first.slot);
    if (!header_index_ && pic.pict_type == AV_PICTURE_TYPE_NONE && !intra_only_) {
        // No index, and a decoder that does not tell keyframes from others: no chunk but
        // the first is a safe start.
        index.keep_first_key_only();
    }
    last_seen_ = first.slot;
    return first.slot;
}

// ---- By presentation stamp --------------------------------------------------------------

// Frame n is the n-th of the presentation stamps `pts`, which last `unit` each.
struct PresentationTimes {
    std::vector<int64_t> pts;  // increasing
    AVRational unit{1, 25};

    // The frame of a picture stamped `stamp`; -1 when no frame has that stamp.
    int64_t frame_of(int64_t stamp) const {
        const auto it = std::lower_bound(pts.begin(), pts.end(), stamp);
        return it != pts.end() && *it == stamp ? it - pts.begin() : -1;
    }
    int64_t time_ns(int64_t n) const {
        if (pts.empty()) return 0;
        n = std::clamp<int64_t>(n, 0, static_cast<int64_t>(pts.size()) - 1);
        return av_rescale_q_rnd(pts[static_cast<size_t>(n)] - pts.front(), unit, kNanoseconds,
                                static_cast<AVRounding>(AV_ROUND_UP | AV_ROUND_PASS_MINMAX));
    }
};

class StampNumbering final : public FrameNumbering {
  public:
    static std::unique_ptr<FrameNumbering> build(StreamScan& scan, FrameIndex& index);

    // The stamp travels with the picture.
    bool frame_threads() const override { return true; }

    int seek(AVFormatContext& fmt, int stream, const IndexEntry& start) override {
        const int r = seek_by_ == SeekBy::Byte
                          ? av_seek_frame(&fmt, stream, start.stamp, AVSEEK_FLAG_BYTE)
                          : av_seek_frame(&fmt, stream, start.stamp, AVSEEK_FLAG_BACKWARD);
        if (r >= 0) {
            awaiting_start_ = true;
            start_stamp_ = start.stamp;
        }
        return r;
    }
    // After a seek by stamp or byte position, packets before the start point are passed
    // over: a seek may land a little early (on packets that share the start point's
    // container packet, or inside the packet before), and those would only look like
    // damage to the decoder.
    bool admit(const AVPacket& p) override {
        if (!awaiting_start_) return true;
        if (!is_start(p)) return false;
        awaiting_start_ = false;
        return true;
    }
    int64_t number_of(const AVPacket& p) const override {
        if (p.pts == AV_NOPTS_VALUE) return AV_NOPTS_VALUE;
        const int64_t n = times_.frame_of(p.pts);
        return n >= 0 ? n : AV_NOPTS_VALUE;
    }
    // A picture whose stamp names no frame (one never shown) comes out as -1.
    int64_t display_of(const AVFrame& f) override { return stamped(f); }
    bool shown(const AVFrame& f) const override { return stamped(f) >= 0; }
    int64_t first_picture(const AVFrame& pic, const IndexEntry&, FrameIndex&) override {
        return stamped(pic);
    }

    int64_t time_ns(int64_t n) const override { return times_.time_ns(n); }

  private:
    int64_t stamped(const AVFrame& f) const {
        return times_.frame_of(f.pts != AV_NOPTS_VALUE ? f.pts : f.best_effort_timestamp);
    }
    bool is_start(const AVPacket& p) const {
        if (!(p.flags & AV_PKT_FLAG_KEY)) return false;
        switch (seek_by_) {
            case SeekBy::Byte:
                return p.pos >= start_stamp_;
            case SeekBy::Pts:
                return p.pts == AV_NOPTS_VALUE || p.pts >= start_stamp_;
            case SeekBy::Dts:
                return p.dts == AV_NOPTS_VALUE || p.dts >= start_stamp_;
        }
        return true;
    }

    PresentationTimes times_;
    SeekBy seek_by_ = SeekBy::Dts;
    bool awaiting_start_ = false;
    int64_t start_stamp_ = 0;  // the start point's entry stamp, as seek_by_ names it
};

// ---- By decode order --------------------------------------------------------------------

// MPEG-1/2 video in a stream that stamps only some pictures (program streams). A start
// point is found again by counting packets from the last one with a byte position of its
// own.
class DecodeOrderNumbering final : public FrameNumbering {
  public:
    static std::unique_ptr<FrameNumbering> build(StreamScan& scan,
                                                 const std::vector<PacketInfo>& packets,
                                                 const std::vector<int>& picture_types,
                                                 FrameIndex& index);

    // The packet's number rides with the picture.
    bool frame_threads() const override { return true; }

    int seek(AVFormatContext& fmt, int stream, const IndexEntry& start) override {
        anchor_ = std::clamp<int64_t>(start.stamp, 0, static_cast<int64_t>(decode_pos_.size()) - 1);
        while (anchor_ > 0 && (decode_pos_[static_cast<size_t>(anchor_)] < 0 ||
                               decode_type_[static_cast<size_t>(anchor_)] == 0))
            --anchor_;
        cursor_ = -1;
        const int r = av_seek_frame(&fmt, stream, decode_pos_[static_cast<size_t>(anchor_)],
                                    AVSEEK_FLAG_BYTE);
        if (r >= 0) {
            awaiting_start_ = true;
            start_index_ = start.stamp;
        }
        return r;
    }
    // Finds the packet the seek landed on, then counts packets up to the start point.
    bool admit(const AVPacket& p) override {
        if (p.size <= 0) return false;
        if (cursor_ < 0) {
            // A seek into a PES may first give the rest of the picture before it, which
            // has no picture header; the first packet with one is the anchor.
            const auto a = static_cast<size_t>(anchor_);
            if (a >= decode_type_.size() || mpeg12_picture_type(p.data, p.size) != decode_type_[a])
                return false;
            cursor_ = anchor_;
        } else {
            ++cursor_;
        }
        if (!awaiting_start_) return true;
        if (cursor_ < start_index_) return false;
        awaiting_start_ = false;
        return true;
    }
    int64_t number_of(const AVPacket&) const override {
        const int64_t n = cursor_ >= 0 && cursor_ < static_cast<int64_t>(decode_number_.size())
                              ? decode_number_[static_cast<size_t>(cursor_)]
                              : -1;
        return n >= 0 ? n : AV_NOPTS_VALUE;
    }
    void label(AVCodecContext& dec, int64_t number) const override {
        dec.reordered_opaque = number == AV_NOPTS_VALUE ? -1 : number;
    }
    int64_t display_of(const AVFrame& f) override { return labelled(f); }
    bool shown(const AVFrame& f) const override { return labelled(f) >= 0; }
    int64_t first_picture(const AVFrame& pic, const IndexEntry&, FrameIndex&) override {
        return labelled(pic);
    }

    int64_t time_ns(int64_t n) const override { return times_.time_ns(n); }

  private:
    int64_t labelled(const AVFrame& f) const {
        return f.reordered_opaque >= 0 && f.reordered_opaque < length_ ? f.reordered_opaque : -1;
    }

    PresentationTimes times_;
    int64_t length_ = 0;
    std::vector<int64_t> decode_number_;  // per video packet in decode order: its frame, or -1
    std::vector<int64_t> decode_pos_;     // its byte position; -1 when it shares a PES
    std::vector<int> decode_type_;        // its picture coding type
    int64_t cursor_ = -1;                 // decode index of the last packet read; -1: not yet
    int64_t anchor_ = 0;                  // where the last seek landed, in decode order
    bool awaiting_start_ = false;
    int64_t start_index_ = 0;  // the start point, in decode order
};

std::unique_ptr<FrameNumbering> DecodeOrderNumbering::build(StreamScan& scan,
                                                            const std::vector<PacketInfo>& packets,
                                                            const std::vector<int>& picture_types,
                                                            FrameIndex& index) {
    const AVStream* st = scan.fmt.streams[scan.stream];
    auto out = std::make_unique<DecodeOrderNumbering>();
    // One reordering picture at most: a B picture is shown as it comes, an I or P picture
    // when the next I or P picture comes (or at the end).
    std::vector<int64_t> rank(packets.size(), -1);
    int64_t next = 0;
    std::optional<size_t> held;
    for (size_t i = 0; i < packets.size(); ++i) {
        if (picture_types[i] == 3) {
            rank[i] = next++;
        } else if (picture_types[i] != 0) {
            if (held) rank[*held] = next++;
            held = i;
        }
    }
    if (held) rank[*held] = next++;
    std::vector<PacketInfo> ordered(packets.size());
    out->decode_pos_.resize(packets.size());
    out->decode_type_ = picture_types;
    for (size_t i = 0; i < packets.size(); ++i) {
        ordered[i].pts = rank[i] >= 0 ? rank[i] : PacketInfo::kNoTime;
        ordered[i].pos = static_cast<int64_t>(i);  // the start point is a decode index
        ordered[i].key = picture_types[i] == 1;
        // A PES holding several pictures gives its position to the first only.
        out->decode_pos_[i] = i > 0 && packets[i].pos == packets[i - 1].pos ? -1 : packets[i].pos;
    }
    if (out->decode_pos_.empty() || out->decode_pos_[0] < 0) return nullptr;
    PresentationIndex presentation = presentation_index(ordered, SeekBy::Byte, false);
    out->decode_number_.assign(packets.size(), -1);
    for (size_t i = 0; i < packets.size(); ++i)
        if (rank[i] >= 0)
            if (const auto n = presentation.frame_of(rank[i])) out->decode_number_[i] = *n;
    index = std::move(presentation.index);
    out->times_.pts = std::move(presentation.pts);
    out->length_ = index.length();
    // The pictures follow one another at the stream's rate.
    AVRational rate = st->avg_frame_rate;
    if (rate.num <= 0 || rate.den <= 0) rate = st->r_frame_rate;
    if (rate.num <= 0 || rate.den <= 0) rate = {25, 1};
    out->frame_duration_ = out->times_.unit = av_inv_q(rate);
    qWarning("media: pictures without their own times: numbered by their order");
    if (index.empty()) return nullptr;
    return out;
}

std::unique_ptr<FrameNumbering> StampNumbering::build(StreamScan& scan, FrameIndex& index) {
    AVStream* st = scan.fmt.streams[scan.stream];
    const std::string_view name = scan.fmt.iformat->name;
    const bool by_sample_table = name.find("mov") != std::string_view::npos;
    // MPEG program and transport streams have no index and only approximate
    // timestamp seeks: a start point is found again by its byte position. Every other
    // container seeks by time through its own index (Matroska's cues hold presentation
    // stamps, ASF's presentation times too, sample tables decode stamps).
    const bool by_position = (name == "mpegts" || name == "mpeg" || name == "mpegvideo" ||
                              name == "h264" || name == "hevc" || name == "m4v") &&
                             !(scan.fmt.iformat->flags & AVFMT_NO_BYTE_SEEK);
    SeekBy seek_by = by_position ? SeekBy::Byte : by_sample_table ? SeekBy::Dts : SeekBy::Pts;
    // A sample table already knows where every packet lies and how long it is, and a
    // demuxer that hands packets on unparsed takes their times from the table alone:
    // their payloads need not be read to learn the order. The packets the probe has
    // already buffered come first and are read for real.
    if (by_sample_table && !av_stream_get_parser(st)) {
        std::vector<std::pair<int64_t, int64_t>> payloads;
        const int n = avformat_index_get_entries_count(st);
        payloads.reserve(static_cast<size_t>(std::max(n, 0)));
        for (int i = 0; i < n; ++i)
            if (const AVIndexEntry* e = avformat_index_get_entry(st, i); e && e->size > 0)
                payloads.emplace_back(e->pos, e->pos + e->size);
        std::sort(payloads.begin(), payloads.end());
        std::vector<std::pair<int64_t, int64_t>> merged;
        for (const auto& r : payloads) {
            if (!merged.empty() && r.first <= merged.back().second)
                merged.back().second = std::max(merged.back().second, r.second);
            else
                merged.push_back(r);
        }
        scan.source.skip_unread(std::move(merged));
    }
    std::vector<PacketInfo> packets;
    const bool mpeg12 = st->codecpar->codec_id == AV_CODEC_ID_MPEG1VIDEO ||
                        st->codecpar->codec_id == AV_CODEC_ID_MPEG2VIDEO;
    std::vector<int> picture_types;
    AVPacket& pkt = scan.pkt;
    for (int64_t count = 0; count < kMaxScannedPackets; ++count) {
        const int r = read_any_packet(scan);
        if (r < 0) {
            if (r != AVERROR_EOF) warn_av("scanning the file (taken as its end)", r);
            break;
        }
        PacketInfo p;
        p.pts = pkt.pts != AV_NOPTS_VALUE ? pkt.pts : PacketInfo::kNoTime;
        p.dts = pkt.dts != AV_NOPTS_VALUE ? pkt.dts : PacketInfo::kNoTime;
        p.pos = pkt.pos;
        p.key = (pkt.flags & AV_PKT_FLAG_KEY) != 0;
        p.discard = (pkt.flags & AV_PKT_FLAG_DISCARD) != 0;
        if (pkt.size > 0) {
            packets.push_back(p);
            if (mpeg12) picture_types.push_back(mpeg12_picture_type(pkt.data, pkt.size));
        }
        av_packet_unref(&pkt);
    }
    scan.source.read_everything();
    if (mpeg12 && !stamps_usable(packets))
        return DecodeOrderNumbering::build(scan, packets, picture_types, index);
    auto out = std::make_unique<StampNumbering>();
    // A stream that never reorders shows its packets in the order they come.
    const bool reorders = st->codecpar->video_delay > 0;
    // Byte positions are needed at the start points only.
    const bool positions_known = std::all_of(
        packets.begin(), packets.end(), [](const PacketInfo& p) { return !p.key || p.pos >= 0; });
    if (seek_by == SeekBy::Byte && !positions_known) seek_by = SeekBy::Dts;
    out->seek_by_ = seek_by;
    PresentationIndex presentation = presentation_index(packets, seek_by, !reorders);
    if (presentation.untimed > 0)
        qWarning("media: %zu packets without a time left out", presentation.untimed);
    index = std::move(presentation.index);
    std::vector<int64_t>& pts = out->times_.pts = std::move(presentation.pts);
    out->times_.unit = st->time_base;
    // The nominal rate: the container's where it agrees with the frames' own average
    // (it keeps exact fractions such as 30000/1001), the average where the container
    // states none or a guess (Matroska with a variable rate).
    const double span =
        pts.size() > 1 ? static_cast<double>(pts.back() - pts.front()) * av_q2d(st->time_base) : 0;
    const double average = span > 0 ? static_cast<double>(pts.size() - 1) / span : 0;
    const AVRational stated = st->avg_frame_rate;
    if (stated.num > 0 && stated.den > 0 &&
        (average == 0 || std::abs(av_q2d(stated) / average - 1) < 0.01))
        out->frame_duration_ = av_inv_q(stated);
    else if (average > 0)
        out->frame_duration_ = av_inv_q(av_d2q(average, 1'000'000));
    else
        out->frame_duration_ = {1, 25};
    if (index.empty()) return nullptr;
    return out;
}

}  // namespace

void FrameNumbering::prepare(AVFormatContext& fmt) {
    // MPEG program and transport streams need not stamp every picture; the demuxer can
    // work the missing times out by reading a little ahead. AVI numbers by slot, and
    // sample tables and Matroska stamp every packet: the look-ahead would only slow the
    // index pass.
    if (!numbered_by_slot(*fmt.iformat) && std::strstr(fmt.iformat->name, "mov") == nullptr &&
        std::strstr(fmt.iformat->name, "matroska") == nullptr)
        fmt.flags |= AVFMT_FLAG_GENPTS;
}

std::unique_ptr<FrameNumbering> FrameNumbering::build(StreamScan& scan, FrameIndex& index) {
    // AVI numbers frames by their slots; every other container by presentation time.
    return numbered_by_slot(*scan.fmt.iformat) ? SlotNumbering::build(scan, index)
                                               : StampNumbering::build(scan, index);
}

int64_t FrameNumbering::frame_at_ns(int64_t t, int64_t length) const {
    // Frames' times grow with their numbers: the last one not after t.
    int64_t lo = 0, hi = length - 1;
    while (lo < hi) {
        const int64_t mid = lo + (hi - lo + 1) / 2;
        if (time_ns(mid) <= t)
            lo = mid;
        else
            hi = mid - 1;
    }
    return lo;
}

}  // namespace tambrel::media

#include "media/service/video_clip.h"

#include "media/service/av_log.h"
#include "media/service/av_ptr.h"
#include "media/service/file_source.h"
#include "media/service/frame_digest.h"
#include "media/service/memory_budget.h"
#include "media/service/picture_cache.h"
#include "media/service/picture_pipeline.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

#include <QtGlobal>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <set>
#include <string_view>
#include <thread>

namespace tambrel::media {

namespace {

using FramePtr = std::shared_ptr<AVFrame>;

// Safety bounds for loops that read a file: a damaged or hostile file ends in an error
// instead of a hang.
constexpr int kMaxStartAttempts = 16;       // keyframe starts tried for one request
constexpr int64_t kPacketSlack = 256;       // packets read beyond the distance to the target
constexpr int kMaxForeignPackets = 100000;  // non-video packets skipped for one read
constexpr int64_t kMaxScannedPackets = 50'000'000;

void warn_av(const char* what, int err) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(err, text, sizeof text);
    qWarning("media: %s: %s", what, text);
}

FramePtr take_frame(AVFrame* from) {
    FramePtr f(av_frame_alloc(), av::FrameFree{});
    if (!f) return nullptr;
    av_frame_move_ref(f.get(), from);
    return f;
}

size_t frame_bytes(const AVFrame& f) {
    size_t bytes = 0;
    for (const AVBufferRef* b : f.buf)
        if (b) bytes += b->size;
    return bytes;
}

// Picture buffers come from a pool and keep what they last held. A decoder that meets a
// damaged chunk may leave parts of its picture unwritten, or predict from such parts,
// and the picture would then depend on what was decoded before rather than on the file:
// another picture after a seek than after steps. Cleared buffers keep it exact.
int cleared_buffer(AVCodecContext* c, AVFrame* f, int flags) {
    const int r = avcodec_default_get_buffer2(c, f, flags);
    if (r < 0) return r;
    for (AVBufferRef* b : f->buf)
        if (b) std::memset(b->data, 0, b->size);
    return 0;
}

// The decoder's own word that it could not decode all of a picture.
bool damaged_picture(const AVFrame& f) {
    return f.decode_error_flags != 0 || (f.flags & AV_FRAME_FLAG_CORRUPT) != 0;
}

bool absurd_size(int w, int h) {
    return w <= 0 || h <= 0 || w > kMaxFrameSide || h > kMaxFrameSide ||
           int64_t{w} * h > kMaxFramePixels;
}

// The palette an AVI stores after its BITMAPINFOHEADER, as the demuxer reads it: the
// last entries of the codec's extra data, before an optional "BottomUp" tag.
std::array<uint8_t, AVPALETTE_SIZE> header_palette(const AVCodecParameters& par) {
    std::array<uint8_t, AVPALETTE_SIZE> out{};
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

}  // namespace

namespace {

// Bytes of one picture as the decoder hands it out, bit depth and chroma format included;
// as much as 16-bit 4:4:4 with alpha when the stream does not say.
size_t picture_bytes(const AVCodecParameters& par) {
    const auto format = static_cast<AVPixelFormat>(par.format);
    const int bytes = format == AV_PIX_FMT_NONE
                          ? -1
                          : av_image_get_buffer_size(format, par.width, par.height, 64);
    if (bytes > 0) return static_cast<size_t>(bytes);
    return static_cast<size_t>(par.width) * static_cast<size_t>(par.height) * 8;
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

}  // namespace

struct VideoClip::Impl {
    explicit Impl(const Options& options)
        : budget(options.budget ? options.budget : &MemoryBudget::process()),
          cache(*budget, options.cache_bound) {}

    // Declared first, so that it outlives the demuxer reading through it.
    std::unique_ptr<FileSource> source;
    av::InputPtr fmt;
    av::CodecPtr dec;
    av::BsfPtr bsf;  // only for MPEG-4 Part 2
    av::PacketPtr pkt;
    av::FramePtr work;
    int vs = -1;
    AVRational frame_duration{1, 25};  // the nominal one
    AVRational time_base{1, 25};
    FrameIndex index;
    // How frames are numbered. An AVI stamps every chunk with its frame slot (empty
    // chunks repeat the picture before them). Every other container stamps packets with
    // their presentation time: frame n is the n-th picture in presentation order.
    bool by_slot = true;
    SeekBy seek_by = SeekBy::Dts;
    std::vector<int64_t> frame_pts;  // presentation stamp of each frame (not for AVI)
    AVRational stamp_unit{1, 25};    // what one unit of frame_pts lasts
    // MPEG-1/2 video in a stream that stamps only some pictures (program streams): frames
    // are numbered from the pictures' types in decode order, and each packet's number
    // rides through the decoder with it. A start point is found again by counting
    // packets from the last one with a byte position of its own.
    bool by_decode_order = false;
    std::vector<int64_t> decode_number;  // per video packet in decode order: its frame, or -1
    std::vector<int64_t> decode_pos;     // its byte position; -1 when it shares a PES
    std::vector<int> decode_type;        // its picture coding type
    int64_t cursor = -1;                 // decode index of the last packet read; -1: not yet
    int64_t anchor = 0;                  // where the last seek landed, in decode order
    double capture = 0;                  // frames per second as filmed; 0: as the frame rate
    Orientation orientation;
    PicturePipeline pipelines[2];
    // After a seek by stamp or byte position, packets before the start point are passed
    // over: a seek may land a little early (on packets that share the start point's
    // container packet, or inside the packet before), and those would only look like
    // damage to the decoder.
    bool awaiting_start = false;
    int64_t start_stamp = 0;
    // The palette of a clip with 8 bits or fewer per pixel. The demuxer hands it on with
    // the first chunk it reads only, which stream probing has already taken; it is
    // given again with the first chunk after every seek.
    std::optional<std::array<uint8_t, AVPALETTE_SIZE>> palette;
    bool palette_pending = false;
    int64_t delay = 0;  // pkt_dts of an output picture minus its frame number
    QSize size;

    // Decoder run: the decoder was started at run_key and has given pictures up to
    // last_out (display numbers); -1 when none yet.
    bool positioned = false;
    bool input_ended = false;  // end of stream sent to the filter or decoder
    bool decoder_eof_sent = false;
    int64_t run_key = -1;
    int64_t last_out = -1;
    int64_t last_seen = -1;  // display number of the last picture received
    FramePtr last_pic;       // the picture numbered last_out; null when it was lost
    bool first_pending = false;
    int64_t packets_in_run = 0;
    int64_t damaged_packets = 0;
    std::set<int64_t> rejected;             // slots whose chunk the decoder refused as damaged
    std::set<int64_t> lost;                 // frames whose picture is damaged (see decode_to)
    std::vector<int> header_index_entries;  // index entries per stream read with the header
    bool run_damaged = false;  // this run met damage and has not reached a whole key picture
    // Pictures still to come out that the decoder may have held back from before a refused
    // chunk: a key picture among them does not end the damage.
    int64_t damage_hold = 0;
    int64_t last_read = -1;  // slot of the last chunk read in this run
    // Slots after the last chunk are missing frames, not empty "repeat" chunks: the file
    // was cut short, or its header claims more frames than the file can hold.
    bool trailing_missing = false;

    // The working pictures below are held from the budget for the clip's life, and every
    // cached picture while it stays cached.
    MemoryBudget* budget;
    BudgetShare working;
    int threads = 1;
    PictureCache<FramePtr> cache;  // display number -> picture, for stepping back
    bool naive = false;

    FramePtr current_pic;
    int64_t current_frame = 0;
    Counters counters;

    MediaError start_run(const IndexEntry& k);
    enum class Got { Picture, End, Error };
    Got receive(FramePtr& out, int64_t packet_limit);
    bool feed();
    bool send_to_decoder(AVPacket* p);
    int read_video_packet();
    int64_t display_of(const AVFrame& f) const;
    int64_t number_of(const AVPacket& p) const;
    bool is_start(const AVPacket& p) const;
    bool counted_in_order();
    // The steps of opening, each with its own bound.
    bool open_container(const std::string& path);
    bool choose_stream(const AVCodec*& codec);
    bool index_slots(int64_t file_size);
    bool index_stamps();
    bool index_decode_order(const std::vector<PacketInfo>& packets,
                            const std::vector<int>& picture_types);
    MediaError reserve_working_set(const AVCodec* codec);
    bool open_decoder(const AVCodec* codec);
    bool first_picture();
    void keep(int64_t display, const FramePtr& f, int64_t focus) {
        if (!naive) cache.put(display, f, frame_bytes(*f), focus);
    }
    MediaError decode_to(int64_t p, FramePtr& result);
};

MediaError VideoClip::Impl::start_run(const IndexEntry& k) {
    if (by_decode_order) {
        anchor = std::clamp<int64_t>(k.stamp, 0, static_cast<int64_t>(decode_pos.size()) - 1);
        while (anchor > 0 && (decode_pos[static_cast<size_t>(anchor)] < 0 ||
                              decode_type[static_cast<size_t>(anchor)] == 0))
            --anchor;
        cursor = -1;
    }
    const int r = by_decode_order
                      ? av_seek_frame(fmt.get(), vs, decode_pos[static_cast<size_t>(anchor)],
                                      AVSEEK_FLAG_BYTE)
                  : !by_slot && seek_by == SeekBy::Byte
                      ? av_seek_frame(fmt.get(), vs, k.stamp, AVSEEK_FLAG_BYTE)
                      : av_seek_frame(fmt.get(), vs, k.stamp, AVSEEK_FLAG_BACKWARD);
    positioned = false;
    if (r < 0) {
        warn_av("seek", r);
        return MediaError::DecodeFailed;
    }
    avcodec_flush_buffers(dec.get());
    if (bsf) av_bsf_flush(bsf.get());
    positioned = true;
    input_ended = decoder_eof_sent = false;
    run_key = k.slot;
    last_out = -1;
    last_pic = nullptr;
    last_seen = k.slot - 1;
    first_pending = true;
    palette_pending = palette.has_value();
    packets_in_run = 0;
    last_read = -1;
    run_damaged = false;
    damage_hold = 0;
    awaiting_start = !by_slot;
    start_stamp = k.stamp;
    ++counters.seeks;
    return MediaError::None;
}

int64_t VideoClip::Impl::number_of(const AVPacket& p) const {
    if (by_slot) return p.dts;
    if (by_decode_order) {
        const int64_t n = cursor >= 0 && cursor < static_cast<int64_t>(decode_number.size())
                              ? decode_number[static_cast<size_t>(cursor)]
                              : -1;
        return n >= 0 ? n : AV_NOPTS_VALUE;
    }
    if (p.pts == AV_NOPTS_VALUE) return AV_NOPTS_VALUE;
    const auto it = std::lower_bound(frame_pts.begin(), frame_pts.end(), p.pts);
    if (it == frame_pts.end() || *it != p.pts) return AV_NOPTS_VALUE;
    return it - frame_pts.begin();
}

bool VideoClip::Impl::is_start(const AVPacket& p) const {
    if (!(p.flags & AV_PKT_FLAG_KEY)) return false;
    switch (seek_by) {
        case SeekBy::Byte:
            return p.pos >= start_stamp;
        case SeekBy::Pts:
            return p.pts == AV_NOPTS_VALUE || p.pts >= start_stamp;
        case SeekBy::Dts:
            return p.dts == AV_NOPTS_VALUE || p.dts >= start_stamp;
    }
    return true;
}

// Decode order: finds the packet the seek landed on, then counts packets up to the start
// point; true when the packet just read is to be decoded.
bool VideoClip::Impl::counted_in_order() {
    if (cursor < 0) {
        // A seek into a PES may first give the rest of the picture before it, which has
        // no picture header; the first packet with one is the anchor.
        const auto a = static_cast<size_t>(anchor);
        if (a >= decode_type.size() || mpeg12_picture_type(pkt->data, pkt->size) != decode_type[a])
            return false;
        cursor = anchor;
    } else {
        ++cursor;
    }
    if (!awaiting_start) return true;
    if (cursor < start_stamp) return false;
    awaiting_start = false;
    return true;
}

int VideoClip::Impl::read_video_packet() {
    for (int skipped = 0; skipped < kMaxForeignPackets; ++skipped) {
        const int r = av_read_frame(fmt.get(), pkt.get());
        if (r < 0) return r;
        if (pkt->stream_index == vs && by_decode_order) {
            if (pkt->size > 0 && counted_in_order()) return 0;
        } else if (pkt->stream_index == vs) {
            if (!awaiting_start) return 0;
            if (is_start(*pkt)) {
                awaiting_start = false;
                return 0;
            }
        }
        av_packet_unref(pkt.get());
    }
    return AVERROR_INVALIDDATA;
}

bool VideoClip::Impl::send_to_decoder(AVPacket* p) {
    if (!p) {
        if (decoder_eof_sent) return true;
        decoder_eof_sent = true;
    }
    const int64_t slot = p ? number_of(*p) : AV_NOPTS_VALUE;
    if (by_decode_order) dec->reordered_opaque = slot == AV_NOPTS_VALUE ? -1 : slot;
    const int r = avcodec_send_packet(dec.get(), p);
    if (p) av_packet_unref(p);
    if (r == 0) return true;
    if (r == AVERROR(ENOMEM) || r == AVERROR(EAGAIN) || r == AVERROR_EOF) {
        warn_av("sending a chunk to the decoder", r);
        return false;
    }
    // A damaged or cut-short chunk: the decoder passes over it and goes on with the next.
    // Its frame has no picture of its own, so it fails rather than show the one before.
    if (damaged_packets++ == 0) warn_av("damaged video chunk skipped", r);
    if (slot != AV_NOPTS_VALUE) rejected.insert(slot);
    run_damaged = true;  // pictures predicted from the missing one are damaged too
    damage_hold = delay;
    return true;
}

// Gives the decoder one more chunk (or the end of the stream). false on a hard error.
bool VideoClip::Impl::feed() {
    if (bsf) {
        const int r = av_bsf_receive_packet(bsf.get(), pkt.get());
        if (r == 0) return send_to_decoder(pkt.get());
        if (r == AVERROR_EOF) return send_to_decoder(nullptr);
        if (r != AVERROR(EAGAIN)) {
            warn_av("bitstream filter", r);
            return false;
        }
        if (input_ended) return send_to_decoder(nullptr);
    } else if (input_ended) {
        return send_to_decoder(nullptr);
    }
    const int r = read_video_packet();
    ++packets_in_run;
    if (r == 0)
        if (const int64_t n = number_of(*pkt); n != AV_NOPTS_VALUE)
            last_read = std::max(last_read, n);
    if (r < 0) {
        if (r != AVERROR_EOF) warn_av("reading the file (taken as its end)", r);
        input_ended = true;
        if (bsf) {
            const int s = av_bsf_send_packet(bsf.get(), nullptr);
            if (s < 0 && s != AVERROR_EOF) {
                warn_av("ending the bitstream filter", s);
                return false;
            }
            return true;
        }
        return send_to_decoder(nullptr);
    }
    if (palette_pending) {
        palette_pending = false;
        if (!av_packet_get_side_data(pkt.get(), AV_PKT_DATA_PALETTE, nullptr)) {
            uint8_t* side = av_packet_new_side_data(pkt.get(), AV_PKT_DATA_PALETTE, AVPALETTE_SIZE);
            if (!side) {
                av_packet_unref(pkt.get());
                qWarning("media: no memory for the palette");
                return false;
            }
            std::memcpy(side, palette->data(), AVPALETTE_SIZE);
        }
    }
    if (bsf) {
        const int s = av_bsf_send_packet(bsf.get(), pkt.get());
        if (s < 0) {
            av_packet_unref(pkt.get());
            warn_av("bitstream filter input", s);
            return false;
        }
        return true;
    }
    return send_to_decoder(pkt.get());
}

VideoClip::Impl::Got VideoClip::Impl::receive(FramePtr& out, int64_t packet_limit) {
    // Each turn either yields a picture or consumes input; the packet limit bounds it.
    for (;;) {
        const int r = avcodec_receive_frame(dec.get(), work.get());
        if (r == 0) {
            if (absurd_size(work->width, work->height)) {
                av_frame_unref(work.get());
                qWarning("media: decoded picture of absurd size refused");
                positioned = false;
                return Got::Error;
            }
            out = take_frame(work.get());
            if (!out) {
                positioned = false;
                return Got::Error;
            }
            ++counters.decoded;
            return Got::Picture;
        }
        if (r == AVERROR_EOF) {
            positioned = false;  // the decoder must be flushed before it takes input again
            return Got::End;
        }
        if (r != AVERROR(EAGAIN)) {
            warn_av("decoding", r);
            positioned = false;
            return Got::Error;
        }
        if (packets_in_run > packet_limit) {
            qWarning("media: no picture within %lld chunks; giving up",
                     static_cast<long long>(packet_limit));
            positioned = false;
            return Got::Error;
        }
        if (!feed()) {
            positioned = false;
            return Got::Error;
        }
    }
}

int64_t VideoClip::Impl::display_of(const AVFrame& f) const {
    if (by_decode_order)
        return f.reordered_opaque >= 0 && f.reordered_opaque < index.length() ? f.reordered_opaque
                                                                              : -1;
    if (!by_slot) {
        // A picture whose stamp names no frame (one never shown) comes out as -1.
        const int64_t ts = f.pts != AV_NOPTS_VALUE ? f.pts : f.best_effort_timestamp;
        const auto it = std::lower_bound(frame_pts.begin(), frame_pts.end(), ts);
        return it != frame_pts.end() && *it == ts ? it - frame_pts.begin() : -1;
    }
    int64_t ts = f.pkt_dts;
    if (ts == AV_NOPTS_VALUE) ts = f.best_effort_timestamp;
    // Pictures drained at the end of the stream carry no time: they follow in order.
    if (ts == AV_NOPTS_VALUE) return last_seen + 1;
    return ts - delay;
}

MediaError VideoClip::Impl::decode_to(int64_t p, FramePtr& result) {
    IndexEntry k = index.key_at_or_before(p);
    int64_t back = 1;  // how far to step back when a start point proves false
    for (int attempt = 0; attempt < kMaxStartAttempts; ++attempt) {
        const bool carry_on =
            !naive && positioned && p > last_out && k.slot <= std::max(run_key, last_out + 1);
        if (!carry_on)
            if (const auto e = start_run(k); e != MediaError::None) return e;
        const int64_t from = std::max(run_key, last_out);
        const int64_t limit = packets_in_run + (p - from) + delay + kPacketSlack;
        bool restart = false;
        while (!restart) {
            FramePtr f;
            const Got got = receive(f, limit);
            if (got == Got::Error) return MediaError::DecodeFailed;
            if (got == Got::End) {
                // The file ended before p's chunk was read (cut while open): p is gone.
                if (last_read < p) return MediaError::DecodeFailed;
                // Frames past the last decodable picture show that picture, unless the
                // damage took it.
                if (run_damaged || (last_out >= 0 && !last_pic)) {
                    lost.insert(p);
                    return MediaError::DecodeFailed;
                }
                if (last_pic) {
                    result = last_pic;
                    return MediaError::None;
                }
                if (const auto shown = cache.last_at_or_before(p)) {
                    if (const auto l = lost.upper_bound(shown->first); l != lost.end() && *l <= p)
                        return MediaError::DecodeFailed;
                    result = shown->second;
                    return MediaError::None;
                }
                return MediaError::DecodeFailed;
            }
            const int64_t display = display_of(*f);
            last_seen = display;
            // Leading pictures of an open group refer to the group before and cannot be
            // decoded from this start; they are neither shown nor judged.
            if (display < run_key) continue;
            if (first_pending) {
                first_pending = false;
                if (!f->key_frame || display > p) {
                    // Not a real start point (the decoder gave a picture that depends
                    // on earlier ones, or passed over pictures until a later start):
                    // start earlier. A file without an index calls every chunk a
                    // keyframe, so false start points come in runs; the distance
                    // doubles with each one.
                    index.mark_not_key(k.slot);
                    const int64_t first_slot = index.key_at_or_before(0).slot;
                    std::optional<IndexEntry> earlier;
                    if (k.slot > first_slot)
                        earlier = index.key_at_or_before(std::max(first_slot, k.slot - back));
                    back *= 2;
                    if (earlier && earlier->slot < k.slot) {
                        k = *earlier;
                        positioned = false;
                        restart = true;
                        continue;
                    }
                }
            }
            if (display <= last_out) continue;  // a repeated number: a decoder quirk
            // Damage (a chunk refused, or a picture the decoder could decode only in part)
            // spreads to every picture predicted from it: from there up to the next whole
            // key picture, frames are lost. Only the order of the stream decides this, so
            // a frame answers alike whichever way it is reached.
            if (damaged_picture(*f))
                run_damaged = true;
            else if (f->key_frame && damage_hold == 0)
                run_damaged = false;
            damage_hold = std::max<int64_t>(damage_hold - 1, 0);
            const FramePtr previous = last_pic;
            const bool previous_lost = last_out >= 0 && !last_pic;
            last_out = display;
            last_pic = run_damaged ? nullptr : f;
            if (run_damaged)
                lost.insert(display);
            else
                keep(display, f, p);
            if (display < p) continue;
            if (run_damaged) {
                lost.insert(p);
                return MediaError::DecodeFailed;
            }
            if (display == p) {
                result = f;
                return MediaError::None;
            }
            // p gave no picture of its own (a chunk the decoder passes over without
            // refusing it): it shows the one before.
            if (previous_lost) {
                lost.insert(p);
                return MediaError::DecodeFailed;
            }
            result = previous ? previous : f;
            return MediaError::None;
        }
    }
    qWarning("media: no start point decodes frame %lld", static_cast<long long>(p));
    return MediaError::DecodeFailed;
}

// ---------------------------------------------------------------------------------------

VideoClip::VideoClip(std::unique_ptr<Impl> impl) : d_(std::move(impl)) {}
VideoClip::~VideoClip() = default;

std::unique_ptr<VideoClip> VideoClip::open(const std::string& path, MediaError& error,
                                           const Options& options) {
    libav_log::install();
    auto d = std::make_unique<Impl>(options);
    d->source = FileSource::open(path, error);
    if (!d->source) return nullptr;
    error = MediaError::NotPlayable;
    const AVCodec* codec = nullptr;
    if (!d->open_container(path) || !d->choose_stream(codec)) return nullptr;
    if (!(d->by_slot ? d->index_slots(d->source->size()) : d->index_stamps())) return nullptr;
    if (const MediaError e = d->reserve_working_set(codec); e != MediaError::None) {
        error = e;
        return nullptr;
    }
    if (!d->open_decoder(codec) || !d->first_picture()) return nullptr;
    error = MediaError::None;
    return std::unique_ptr<VideoClip>(new VideoClip(std::move(d)));
}

bool VideoClip::Impl::open_container(const std::string& path) {
    AVFormatContext* raw = avformat_alloc_context();
    if (!raw) return false;
    raw->pb = source->io();
    raw->flags |= AVFMT_FLAG_CUSTOM_IO;
    // On failure the context is freed by the call; the I/O context stays ours.
    if (const int r = avformat_open_input(&raw, path.c_str(), nullptr, nullptr); r < 0) {
        warn_av("opening the file", r);
        return false;
    }
    fmt.reset(raw);
    // Stream probing below already decodes; a hostile header must not get that far.
    for (unsigned i = 0; i < fmt->nb_streams; ++i) {
        const AVCodecParameters* par = fmt->streams[i]->codecpar;
        if (par->codec_type == AVMEDIA_TYPE_VIDEO &&
            (par->width > kMaxFrameSide || par->height > kMaxFrameSide ||
             int64_t{par->width} * par->height > kMaxFramePixels)) {
            qWarning("media: picture size %dx%d refused", par->width, par->height);
            return false;
        }
    }
    // AVI numbers frames by their slots; every other container by presentation time.
    by_slot = std::strcmp(fmt->iformat->name, "avi") == 0;
    // MPEG program and transport streams need not stamp every picture; the demuxer can
    // work the missing times out by reading a little ahead. Sample tables and Matroska
    // stamp every packet, and the look-ahead would only slow the index pass.
    if (!by_slot && std::strstr(fmt->iformat->name, "mov") == nullptr &&
        std::strstr(fmt->iformat->name, "matroska") == nullptr)
        fmt->flags |= AVFMT_FLAG_GENPTS;
    return true;
}

bool VideoClip::Impl::choose_stream(const AVCodec*& codec) {
    // The demuxer has read the AVI's own index with its header; entries that appear
    // later come only from chunks read while probing, so a count taken now tells whether
    // the file has an index at all.
    header_index_entries.clear();
    for (unsigned i = 0; i < fmt->nb_streams; ++i)
        header_index_entries.push_back(avformat_index_get_entries_count(fmt->streams[i]));
    if (const int r = avformat_find_stream_info(fmt.get(), nullptr); r < 0) {
        warn_av("reading stream information", r);
        return false;
    }
    vs = av_find_best_stream(fmt.get(), AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    if (vs < 0 || !codec) return false;
    AVStream* st = fmt->streams[vs];
    // A cover picture of an audio file is no clip.
    if (st->disposition & AV_DISPOSITION_ATTACHED_PIC) return false;
    for (unsigned i = 0; i < fmt->nb_streams; ++i)
        if (static_cast<int>(i) != vs) fmt->streams[i]->discard = AVDISCARD_ALL;
    const AVCodecParameters* par = st->codecpar;
    if (absurd_size(par->width, par->height)) return false;
    time_base = st->time_base;
    if (time_base.num <= 0 || time_base.den <= 0) return false;

    if (const uint8_t* matrix = av_stream_get_side_data(st, AV_PKT_DATA_DISPLAYMATRIX, nullptr))
        orientation = orientation_from_matrix(reinterpret_cast<const int32_t*>(matrix));
    // Slow-motion clips from Android phones say how fast they were filmed.
    for (AVDictionary* meta : {fmt->metadata, st->metadata})
        if (const AVDictionaryEntry* e = av_dict_get(meta, "com.android.capture.fps", nullptr, 0)) {
            const double fps = std::strtod(e->value, nullptr);
            if (std::isfinite(fps) && fps > 0 && fps < 1e6) capture = fps;
        }

    if (by_slot) {
        if (par->bits_per_coded_sample > 0 && par->bits_per_coded_sample <= 8 &&
            par->extradata_size > 0)
            palette = header_palette(*par);
        // One slot of the stream lasts one time-base unit.
        frame_duration = time_base;
    }
    pkt.reset(av_packet_alloc());
    work.reset(av_frame_alloc());
    return pkt && work;
}

bool VideoClip::Impl::index_slots(int64_t file_size) {
    AVStream* st = fmt->streams[vs];
    std::vector<IndexEntry> entries;
    const bool has_index =
        static_cast<size_t>(vs) < header_index_entries.size() && header_index_entries[vs] > 0;
    const int n = has_index ? avformat_index_get_entries_count(st) : 0;
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
        const int r = av_seek_frame(fmt.get(), vs, entries.back().stamp, AVSEEK_FLAG_BACKWARD);
        if (r < 0) warn_av("seeking to the last listed chunk", r);
    }
    for (int64_t count = 0; count < kMaxScannedPackets; ++count) {
        const int r = read_video_packet();
        if (r < 0) {
            if (r != AVERROR_EOF) warn_av("scanning the file (taken as its end)", r);
            break;
        }
        const int64_t ts = pkt->dts != AV_NOPTS_VALUE ? pkt->dts : pkt->pts;
        if (pkt->size > 0 && ts != AV_NOPTS_VALUE)
            entries.push_back({ts, ts, (pkt->flags & AV_PKT_FLAG_KEY) != 0});
        av_packet_unref(pkt.get());
    }
    unsigned char head[8] = {};  // "RIFF" and the size the file should have, less 8
    const bool have_head = source->peek(0, head, sizeof head) == sizeof head;
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
    if (index.empty()) return false;
    trailing_missing = cut_short;
    return true;
}

bool VideoClip::Impl::index_stamps() {
    AVStream* st = fmt->streams[vs];
    const std::string_view name = fmt->iformat->name;
    const bool by_sample_table = name.find("mov") != std::string_view::npos;
    // MPEG program and transport streams have no index and only approximate
    // timestamp seeks: a start point is found again by its byte position. Every other
    // container seeks by time through its own index (Matroska's cues hold presentation
    // stamps, ASF's presentation times too, sample tables decode stamps).
    const bool by_position = (name == "mpegts" || name == "mpeg" || name == "mpegvideo" ||
                              name == "h264" || name == "hevc" || name == "m4v") &&
                             !(fmt->iformat->flags & AVFMT_NO_BYTE_SEEK);
    seek_by = by_position ? SeekBy::Byte : by_sample_table ? SeekBy::Dts : SeekBy::Pts;
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
        source->skip_unread(std::move(merged));
    }
    std::vector<PacketInfo> packets;
    const bool mpeg12 = st->codecpar->codec_id == AV_CODEC_ID_MPEG1VIDEO ||
                        st->codecpar->codec_id == AV_CODEC_ID_MPEG2VIDEO;
    std::vector<int> picture_types;
    for (int64_t count = 0; count < kMaxScannedPackets; ++count) {
        const int r = read_video_packet();
        if (r < 0) {
            if (r != AVERROR_EOF) warn_av("scanning the file (taken as its end)", r);
            break;
        }
        PacketInfo p;
        p.pts = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : PacketInfo::kNoTime;
        p.dts = pkt->dts != AV_NOPTS_VALUE ? pkt->dts : PacketInfo::kNoTime;
        p.pos = pkt->pos;
        p.key = (pkt->flags & AV_PKT_FLAG_KEY) != 0;
        p.discard = (pkt->flags & AV_PKT_FLAG_DISCARD) != 0;
        if (pkt->size > 0) {
            packets.push_back(p);
            if (mpeg12) picture_types.push_back(mpeg12_picture_type(pkt->data, pkt->size));
        }
        av_packet_unref(pkt.get());
    }
    source->read_everything();
    if (mpeg12 && !stamps_usable(packets)) return index_decode_order(packets, picture_types);
    // A stream that never reorders shows its packets in the order they come.
    const bool reorders = st->codecpar->video_delay > 0;
    // Byte positions are needed at the start points only.
    const bool positions_known = std::all_of(
        packets.begin(), packets.end(), [](const PacketInfo& p) { return !p.key || p.pos >= 0; });
    if (seek_by == SeekBy::Byte && !positions_known) seek_by = SeekBy::Dts;
    PresentationIndex presentation = presentation_index(packets, seek_by, !reorders);
    if (presentation.untimed > 0)
        qWarning("media: %zu packets without a time left out", presentation.untimed);
    index = std::move(presentation.index);
    frame_pts = std::move(presentation.pts);
    stamp_unit = time_base;
    // The nominal rate: the container's where it agrees with the frames' own average
    // (it keeps exact fractions such as 30000/1001), the average where the container
    // states none or a guess (Matroska with a variable rate).
    const double span =
        frame_pts.size() > 1
            ? static_cast<double>(frame_pts.back() - frame_pts.front()) * av_q2d(time_base)
            : 0;
    const double average = span > 0 ? static_cast<double>(frame_pts.size() - 1) / span : 0;
    const AVRational stated = st->avg_frame_rate;
    if (stated.num > 0 && stated.den > 0 &&
        (average == 0 || std::abs(av_q2d(stated) / average - 1) < 0.01))
        frame_duration = av_inv_q(stated);
    else if (average > 0)
        frame_duration = av_inv_q(av_d2q(average, 1'000'000));
    else
        frame_duration = {1, 25};
    return !index.empty();
}

bool VideoClip::Impl::index_decode_order(const std::vector<PacketInfo>& packets,
                                         const std::vector<int>& picture_types) {
    const AVStream* st = fmt->streams[vs];
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
    decode_pos.resize(packets.size());
    decode_type = picture_types;
    for (size_t i = 0; i < packets.size(); ++i) {
        ordered[i].pts = rank[i] >= 0 ? rank[i] : PacketInfo::kNoTime;
        ordered[i].pos = static_cast<int64_t>(i);  // the start point is a decode index
        ordered[i].key = picture_types[i] == 1;
        // A PES holding several pictures gives its position to the first only.
        decode_pos[i] = i > 0 && packets[i].pos == packets[i - 1].pos ? -1 : packets[i].pos;
    }
    if (decode_pos.empty() || decode_pos[0] < 0) return false;
    PresentationIndex presentation = presentation_index(ordered, SeekBy::Byte, false);
    decode_number.assign(packets.size(), -1);
    for (size_t i = 0; i < packets.size(); ++i)
        if (rank[i] >= 0)
            if (const auto n = presentation.frame_of(rank[i])) decode_number[i] = *n;
    index = std::move(presentation.index);
    frame_pts = std::move(presentation.pts);
    by_decode_order = true;
    // The pictures follow one another at the stream's rate.
    AVRational rate = st->avg_frame_rate;
    if (rate.num <= 0 || rate.den <= 0) rate = st->r_frame_rate;
    if (rate.num <= 0 || rate.den <= 0) rate = {25, 1};
    frame_duration = stamp_unit = av_inv_q(rate);
    qWarning("media: pictures without their own times: numbered by their order");
    return !index.empty();
}

MediaError VideoClip::Impl::reserve_working_set(const AVCodec* codec) {
    const AVStream* st = fmt->streams[vs];
    const AVCodecParameters* par = st->codecpar;
    const size_t picture = picture_bytes(*par);
    // The RGB picture a conversion may need, at the size the picture is shown (widened or
    // heightened to square pixels).
    const AVRational sar = par->sample_aspect_ratio;
    const double stretch = sar.num > 0 && sar.den > 0 ? std::max(av_q2d(sar), 1 / av_q2d(sar)) : 1;
    const size_t converted = static_cast<size_t>(
        std::min(static_cast<double>(par->width) * par->height * 4 * stretch, 1e15));
    const AVCodecDescriptor* desc = avcodec_descriptor_get(par->codec_id);
    const bool intra = desc && (desc->props & AV_CODEC_PROP_INTRA_ONLY);
    // Pictures the decoder keeps for reference and reordering, each extra frame thread
    // one more, and the two the clip holds itself (the current and the last decoded).
    const size_t references = intra ? 1 : 4 + static_cast<size_t>(std::max(par->video_delay, 0));
    const int wanted_threads =
        by_slot ? 1 : std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1, 4);
    for (int t = wanted_threads; t >= 1; --t) {
        const size_t need = picture * (references + static_cast<size_t>(t - 1) + 2) + converted;
        working = BudgetShare::take(*budget, need);
        if (working) {
            threads = t;
            return MediaError::None;
        }
    }
    // The least it can work with: the picture being decoded, the one shown, and its
    // conversion.
    working = BudgetShare::take(*budget, picture * 2 + converted);
    if (working) {
        threads = 1;
        return MediaError::None;
    }
    qWarning("media: pictures of %dx%d (%zu bytes each) do not fit in the memory budget",
             par->width, par->height, picture);
    (void)codec;
    return MediaError::NoMemory;
}

bool VideoClip::Impl::open_decoder(const AVCodec* codec) {
    const AVStream* st = fmt->streams[vs];
    const AVCodecParameters* par = st->codecpar;
    dec.reset(avcodec_alloc_context3(codec));
    if (!dec) return false;
    if (const int r = avcodec_parameters_to_context(dec.get(), par); r < 0) {
        warn_av("decoder parameters", r);
        return false;
    }
    dec->pkt_timebase = st->time_base;
    // AVI numbering follows the chunk a picture comes out with, which frame threads
    // would shift; presentation stamps travel with the picture, so other containers
    // decode with frame threads too.
    dec->thread_type = by_slot ? FF_THREAD_SLICE : FF_THREAD_FRAME | FF_THREAD_SLICE;
    dec->thread_count = by_slot ? 0 : threads;
    dec->max_pixels = kMaxFramePixels;
    dec->get_buffer2 = cleared_buffer;  // safe on any thread: it only allocates and clears
#if FF_API_THREAD_SAFE_CALLBACKS
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    dec->thread_safe_callbacks = 1;  // still asked for by this libavcodec's frame threads
#pragma GCC diagnostic pop
#endif
    if (const int r = avcodec_open2(dec.get(), codec, nullptr); r < 0) {
        warn_av("opening the decoder", r);
        return false;
    }
    if (by_slot && par->codec_id == AV_CODEC_ID_MPEG4) {
        // Packed B-frames (a B riding in its P's chunk, an empty placeholder after it)
        // would give pictures in the wrong slots; the filter puts each in its own chunk.
        const AVBitStreamFilter* filter = av_bsf_get_by_name("mpeg4_unpack_bframes");
        if (!filter) return false;
        AVBSFContext* b = nullptr;
        if (const int r = av_bsf_alloc(filter, &b); r < 0) {
            warn_av("bitstream filter", r);
            return false;
        }
        bsf.reset(b);
        if (const int r = avcodec_parameters_copy(bsf->par_in, par); r < 0) {
            warn_av("bitstream filter parameters", r);
            return false;
        }
        bsf->time_base_in = st->time_base;
        if (const int r = av_bsf_init(bsf.get()); r < 0) {
            warn_av("bitstream filter init", r);
            return false;
        }
    }
    return true;
}

bool VideoClip::Impl::first_picture() {
    // Decode the first picture: it proves the clip plays, gives the picture size, and
    // measures the decoder's delay (a decoder that reorders gives a picture only a few
    // chunks later, stamped with the later chunk's slot).
    const IndexEntry first = index.key_at_or_before(index.picture_of(0));
    if (start_run(first) != MediaError::None) return false;
    FramePtr pic;
    for (;;) {
        if (receive(pic, kPacketSlack) != Got::Picture) return false;
        // Pictures that are never shown (before an edit list's start) come first.
        if (by_slot || display_of(*pic) >= 0) break;
    }
    if (damaged_picture(*pic) || rejected.contains(first.slot)) {
        qWarning("media: the first picture is damaged");
        return false;
    }
    int64_t shown_as = first.slot;
    if (by_slot) {
        const int64_t ts =
            pic->pkt_dts != AV_NOPTS_VALUE ? pic->pkt_dts : pic->best_effort_timestamp;
        delay = ts == AV_NOPTS_VALUE ? 0 : std::max<int64_t>(0, ts - first.slot);
        const AVCodecParameters* par = fmt->streams[vs]->codecpar;
        const bool has_index =
            static_cast<size_t>(vs) < header_index_entries.size() && header_index_entries[vs] > 0;
        if (!has_index && pic->pict_type == AV_PICTURE_TYPE_NONE &&
            !(avcodec_descriptor_get(par->codec_id) &&
              (avcodec_descriptor_get(par->codec_id)->props & AV_CODEC_PROP_INTRA_ONLY))) {
            // No index, and a decoder that does not tell keyframes from others: no chunk
            // but the first is a safe start.
            index.keep_first_key_only();
        }
    } else {
        shown_as = display_of(*pic);
    }
    first_pending = false;
    last_out = last_seen = shown_as;
    last_pic = pic;
    // The size a player shows: square pixels, upright.
    const AVRational sar = av_guess_sample_aspect_ratio(fmt.get(), fmt->streams[vs], pic.get());
    QSize shown(pic->width, pic->height);
    if (sar.num > 0 && sar.den > 0 && av_cmp_q(sar, AVRational{1, 1}) != 0) {
        if (av_cmp_q(sar, AVRational{1, 1}) > 0)
            shown.setWidth(static_cast<int>(av_rescale(pic->width, sar.num, sar.den)));
        else
            shown.setHeight(static_cast<int>(av_rescale(pic->height, sar.den, sar.num)));
    }
    if (orientation.quarter_turns % 2) shown.transpose();
    if (absurd_size(shown.width(), shown.height())) return false;
    size = shown;
    keep(shown_as, pic, shown_as);
    current_pic = pic;
    current_frame = 0;
    if (shown_as != 0) {
        // The first frame in presentation order came later than the start point's picture.
        FramePtr zero;
        if (decode_to(0, zero) != MediaError::None) return false;
        current_pic = zero;
    }
    return true;
}

int64_t VideoClip::length() const { return d_->index.length(); }
QSize VideoClip::size() const { return d_->size; }
int64_t VideoClip::frame_num() const { return d_->frame_duration.num; }
int64_t VideoClip::frame_den() const { return d_->frame_duration.den; }
const FrameIndex& VideoClip::index() const { return d_->index; }
int64_t VideoClip::time_ns(int64_t n) const {
    const AVRational ns{1, 1'000'000'000};
    if (d_->by_slot)
        return av_rescale_q_rnd(n, d_->time_base, ns,
                                static_cast<AVRounding>(AV_ROUND_UP | AV_ROUND_PASS_MINMAX));
    if (d_->frame_pts.empty()) return 0;
    n = std::clamp<int64_t>(n, 0, static_cast<int64_t>(d_->frame_pts.size()) - 1);
    return av_rescale_q_rnd(d_->frame_pts[static_cast<size_t>(n)] - d_->frame_pts.front(),
                            d_->stamp_unit, ns,
                            static_cast<AVRounding>(AV_ROUND_UP | AV_ROUND_PASS_MINMAX));
}

int64_t VideoClip::frame_at_ns(int64_t t) const {
    if (t <= 0) return 0;
    if (d_->by_slot)
        return av_rescale_q_rnd(t, AVRational{1, 1'000'000'000}, d_->time_base, AV_ROUND_DOWN);
    // Frames' times grow with their numbers: the last one not after t.
    int64_t lo = 0, hi = length() - 1;
    while (lo < hi) {
        const int64_t mid = lo + (hi - lo + 1) / 2;
        if (time_ns(mid) <= t)
            lo = mid;
        else
            hi = mid - 1;
    }
    return lo;
}

double VideoClip::frame_rate() const { return av_q2d(av_inv_q(d_->frame_duration)); }
double VideoClip::capture_rate() const { return d_->capture > 0 ? d_->capture : frame_rate(); }
int64_t VideoClip::decoder_delay() const { return d_->delay; }
int64_t VideoClip::current() const { return d_->current_frame; }
uint64_t VideoClip::picture_digest() const {
    return d_->current_pic ? frame_digest(*d_->current_pic) : 0;
}
VideoClip::Counters VideoClip::counters() const { return d_->counters; }
size_t VideoClip::cache_bytes() const { return d_->cache.bytes(); }
size_t VideoClip::working_bytes() const { return d_->working.bytes(); }
size_t VideoClip::cache_bound() const { return d_->cache.bound(); }
void VideoClip::set_cache_bound(size_t bytes) { d_->cache.set_bound(bytes); }

void VideoClip::set_naive(bool naive) {
    d_->naive = naive;
    d_->cache.clear();
    d_->positioned = false;
}

MediaError VideoClip::go_to(int64_t n) {
    if (n < 0 || n >= length()) return MediaError::OutOfRange;
    if (d_->trailing_missing && n > d_->index.picture_of(length() - 1))
        return MediaError::DecodeFailed;
    const int64_t p = d_->index.picture_of(n);
    // A chunk the decoder refused has no picture: its frame is lost, not the one before.
    if (d_->rejected.contains(p) || d_->lost.contains(p)) return MediaError::DecodeFailed;
    if (!d_->naive) {
        if (const FramePtr* kept = d_->cache.find(p)) {
            ++d_->counters.cache_hits;
            d_->current_pic = *kept;
            d_->current_frame = n;
            return MediaError::None;
        }
    }
    FramePtr pic;
    // Stepping back, the next requests go further back; after a jump, only the pictures
    // just before the target are worth keeping.
    const size_t picture = d_->current_pic ? frame_bytes(*d_->current_pic) : 0;
    d_->cache.set_keep_before(n == d_->current_frame - 1
                                  ? PictureCache<FramePtr>::kKeepAll
                                  : PictureCache<FramePtr>::kept_after_jump(picture));
    if (const auto e = d_->decode_to(p, pic); e != MediaError::None) return e;
    if (d_->rejected.contains(p) || d_->lost.contains(p)) return MediaError::DecodeFailed;
    d_->current_pic = std::move(pic);
    d_->current_frame = n;
    return MediaError::None;
}

MediaError VideoClip::draw(QImage& target, const QRect& dest, Scaler which) {
    const AVFrame* f = d_->current_pic.get();
    if (!f) return MediaError::DecodeFailed;
    return d_->pipelines[which == Scaler::Window ? 0 : 1].draw(*f, d_->orientation, target, dest);
}

}  // namespace tambrel::media

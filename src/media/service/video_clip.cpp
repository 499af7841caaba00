#include "media/service/video_clip.h"
#include "media/service/av_ptr.h"
#include "media/service/av_log.h"

#include "media/service/frame_digest.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavformat/avformat.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <QtGlobal>
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <set>

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

// The full-range "J" formats are deprecated in the scaler; it wants the plain format
// and the range given separately.
AVPixelFormat plain_format(AVPixelFormat f, bool& full_range) {
    switch (f) {
        case AV_PIX_FMT_YUVJ420P:
            full_range = true;
            return AV_PIX_FMT_YUV420P;
        case AV_PIX_FMT_YUVJ422P:
            full_range = true;
            return AV_PIX_FMT_YUV422P;
        case AV_PIX_FMT_YUVJ444P:
            full_range = true;
            return AV_PIX_FMT_YUV444P;
        case AV_PIX_FMT_YUVJ440P:
            full_range = true;
            return AV_PIX_FMT_YUV440P;
        case AV_PIX_FMT_YUVJ411P:
            full_range = true;
            return AV_PIX_FMT_YUV411P;
        default:
            return f;
    }
}

int sws_matrix(AVColorSpace cs, int height) {
    switch (cs) {
        case AVCOL_SPC_BT709:
            return SWS_CS_ITU709;
        case AVCOL_SPC_FCC:
            return SWS_CS_FCC;
        case AVCOL_SPC_BT470BG:
        case AVCOL_SPC_SMPTE170M:
            return SWS_CS_ITU601;
        case AVCOL_SPC_SMPTE240M:
            return SWS_CS_SMPTE240M;
        case AVCOL_SPC_BT2020_NCL:
        case AVCOL_SPC_BT2020_CL:
            return SWS_CS_BT2020;
        default:
            // Unlabelled: standard definition is BT.601, high definition BT.709.
            return height >= 720 ? SWS_CS_ITU709 : SWS_CS_ITU601;
    }
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

struct VideoClip::Impl {
    av::InputPtr fmt;
    av::CodecPtr dec;
    av::BsfPtr bsf;  // only for MPEG-4 Part 2
    av::PacketPtr pkt;
    av::FramePtr work;
    av::SwsPtr sws[2];
    int vs = -1;
    AVRational frame_duration{1, 25};
    FrameIndex index;
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
    std::set<int64_t> rejected;  // slots whose chunk the decoder refused as damaged
    std::set<int64_t> lost;      // frames whose picture is damaged (see decode_to)
    bool run_damaged = false;    // this run met damage and has not reached a whole key picture
    // Pictures still to come out that the decoder may have held back from before a refused
    // chunk: a key picture among them does not end the damage.
    int64_t damage_hold = 0;
    int64_t last_read = -1;  // slot of the last chunk read in this run
    // Slots after the last chunk are missing frames, not empty "repeat" chunks: the file
    // was cut short, or its header claims more frames than the file can hold.
    bool trailing_missing = false;

    std::map<int64_t, FramePtr> cache;  // display number -> picture
    size_t cache_size = 0;
    size_t cache_bound = kDefaultCacheBound;
    bool naive = false;
    // How many pictures before a target are worth keeping: all the cache holds when
    // stepping back (the next requests go further back), a few seconds' worth after a
    // jump, where filling the whole cache would slow every seek for little gain.
    int64_t keep_before = INT64_MAX;

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
    void cache_put(int64_t display, const FramePtr& f, int64_t focus);
    void cache_clear();
    MediaError decode_to(int64_t p, FramePtr& result);
};

MediaError VideoClip::Impl::start_run(const IndexEntry& k) {
    const int r = av_seek_frame(fmt.get(), vs, k.stamp, AVSEEK_FLAG_BACKWARD);
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
    ++counters.seeks;
    return MediaError::None;
}

int VideoClip::Impl::read_video_packet() {
    for (int skipped = 0; skipped < kMaxForeignPackets; ++skipped) {
        const int r = av_read_frame(fmt.get(), pkt.get());
        if (r < 0) return r;
        if (pkt->stream_index == vs) return 0;
        av_packet_unref(pkt.get());
    }
    return AVERROR_INVALIDDATA;
}

bool VideoClip::Impl::send_to_decoder(AVPacket* p) {
    if (!p) {
        if (decoder_eof_sent) return true;
        decoder_eof_sent = true;
    }
    const int64_t slot = p ? p->dts : AV_NOPTS_VALUE;
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
    if (r == 0 && pkt->dts != AV_NOPTS_VALUE) last_read = std::max(last_read, pkt->dts);
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
    int64_t ts = f.pkt_dts;
    if (ts == AV_NOPTS_VALUE) ts = f.best_effort_timestamp;
    // Pictures drained at the end of the stream carry no time: they follow in order.
    if (ts == AV_NOPTS_VALUE) return last_seen + 1;
    return ts - delay;
}

void VideoClip::Impl::cache_clear() {
    cache.clear();
    cache_size = 0;
}

void VideoClip::Impl::cache_put(int64_t display, const FramePtr& f, int64_t focus) {
    if (naive || cache.contains(display)) return;
    const size_t bytes = frame_bytes(*f);
    // A picture that would be pushed out again before the decode reaches the target is
    // not kept: holding it only makes the decoder allocate fresh buffers.
    const auto distance = static_cast<uint64_t>(std::max<int64_t>(focus - display, 0));
    if (bytes == 0 || distance > cache_bound / bytes ||
        distance > static_cast<uint64_t>(keep_before))
        return;
    cache.emplace(display, f);
    cache_size += bytes;
    // Keep the pictures nearest to where the caller is going.
    while (cache_size > cache_bound && cache.size() > 1) {
        auto first = cache.begin();
        auto last = std::prev(cache.end());
        auto victim = (focus - first->first >= last->first - focus) ? first : last;
        cache_size -= frame_bytes(*victim->second);
        cache.erase(victim);
    }
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
                if (!cache.empty() && cache.begin()->first <= p) {
                    const auto shown = std::prev(cache.upper_bound(p));
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
                cache_put(display, f, p);
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

std::unique_ptr<VideoClip> VideoClip::open(const std::string& path, MediaError& error) {
    libav_log::install();
    error = MediaError::FileNotFound;
    unsigned char head[8] = {};  // "RIFF" and the size the file should have, less 8
    size_t head_bytes = 0;
    uintmax_t file_size = 0;
    {
        std::error_code ec;
        if (!std::filesystem::is_regular_file(path, ec)) return nullptr;
        std::FILE* probe = std::fopen(path.c_str(), "rb");
        if (!probe) return nullptr;
        head_bytes = std::fread(head, 1, sizeof head, probe);
        std::fclose(probe);
        file_size = std::filesystem::file_size(path, ec);
        if (ec) file_size = 0;
    }
    error = MediaError::NotPlayable;
    auto d = std::make_unique<Impl>();

    AVFormatContext* raw = nullptr;
    if (const int r = avformat_open_input(&raw, path.c_str(), nullptr, nullptr); r < 0) {
        warn_av("opening the file", r);
        if (r == AVERROR(ENOENT) || r == AVERROR(EACCES)) error = MediaError::FileNotFound;
        return nullptr;
    }
    d->fmt.reset(raw);
    // The demuxer reads the file's own index with the header; entries that appear later
    // come only from chunks read while probing, so a count taken now tells whether the
    // file has an index at all.
    std::vector<int> header_index_entries;
    for (unsigned i = 0; i < d->fmt->nb_streams; ++i) {
        const AVStream* s = d->fmt->streams[i];
        header_index_entries.push_back(avformat_index_get_entries_count(s));
        // Stream probing below already decodes; a hostile header must not get that far.
        if (s->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
            (s->codecpar->width > kMaxFrameSide || s->codecpar->height > kMaxFrameSide ||
             int64_t{s->codecpar->width} * s->codecpar->height > kMaxFramePixels)) {
            qWarning("media: picture size %dx%d refused", s->codecpar->width, s->codecpar->height);
            return nullptr;
        }
    }
    // Frame numbering relies on the AVI demuxer's rule that a video chunk's timestamp is
    // its frame slot; other containers are not taken.
    if (std::strcmp(d->fmt->iformat->name, "avi") != 0) return nullptr;
    if (const int r = avformat_find_stream_info(d->fmt.get(), nullptr); r < 0) {
        warn_av("reading stream information", r);
        return nullptr;
    }
    const AVCodec* codec = nullptr;
    d->vs = av_find_best_stream(d->fmt.get(), AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    if (d->vs < 0 || !codec) return nullptr;
    AVStream* st = d->fmt->streams[d->vs];
    for (unsigned i = 0; i < d->fmt->nb_streams; ++i)
        if (static_cast<int>(i) != d->vs) d->fmt->streams[i]->discard = AVDISCARD_ALL;
    const AVCodecParameters* par = st->codecpar;
    if (absurd_size(par->width, par->height)) return nullptr;

    if (par->bits_per_coded_sample > 0 && par->bits_per_coded_sample <= 8 &&
        par->extradata_size > 0)
        d->palette = header_palette(*par);

    // One slot of the stream lasts one time-base unit.
    d->frame_duration = st->time_base;
    if (d->frame_duration.num <= 0 || d->frame_duration.den <= 0) return nullptr;

    d->pkt.reset(av_packet_alloc());
    d->work.reset(av_frame_alloc());
    if (!d->pkt || !d->work) return nullptr;

    std::vector<IndexEntry> entries;
    const bool has_index =
        static_cast<size_t>(d->vs) < header_index_entries.size() && header_index_entries[d->vs] > 0;
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
        const int r =
            av_seek_frame(d->fmt.get(), d->vs, entries.back().stamp, AVSEEK_FLAG_BACKWARD);
        if (r < 0) warn_av("seeking to the last listed chunk", r);
    }
    for (int64_t count = 0; count < kMaxScannedPackets; ++count) {
        const int r = d->read_video_packet();
        if (r < 0) {
            if (r != AVERROR_EOF) warn_av("scanning the file (taken as its end)", r);
            break;
        }
        const int64_t ts = d->pkt->dts != AV_NOPTS_VALUE ? d->pkt->dts : d->pkt->pts;
        if (d->pkt->size > 0 && ts != AV_NOPTS_VALUE)
            entries.push_back({ts, ts, (d->pkt->flags & AV_PKT_FLAG_KEY) != 0});
        av_packet_unref(d->pkt.get());
    }
    // The header's frame count stands, with or without an index: the frames it promises
    // past the last chunk of a file cut short (its RIFF size is larger than the file), or
    // past what a file of this size can hold, are lost. They fail to decode rather than
    // vanish from the length, so a step onto one beeps instead of quietly staying put.
    d->index = FrameIndex(std::move(entries), st->nb_frames);
    if (d->index.empty()) return nullptr;
    const uint64_t riff_size = head[4] | head[5] << 8 | head[6] << 16 | uint64_t{head[7]} << 24;
    const bool cut_short =
        head_bytes == sizeof head && std::memcmp(head, "RIFF", 4) == 0 && riff_size + 8 > file_size;
    // Every frame slot takes at least a chunk header of 8 bytes.
    const bool count_impossible = st->nb_frames > static_cast<int64_t>(file_size / 8);
    d->trailing_missing = cut_short || count_impossible;

    d->dec.reset(avcodec_alloc_context3(codec));
    if (!d->dec) return nullptr;
    if (const int r = avcodec_parameters_to_context(d->dec.get(), par); r < 0) {
        warn_av("decoder parameters", r);
        return nullptr;
    }
    d->dec->pkt_timebase = st->time_base;
    // Frame threads would delay output by a varying amount and tie the picture's
    // timestamp to a later chunk; slice threads keep the numbering exact.
    d->dec->thread_type = FF_THREAD_SLICE;
    d->dec->thread_count = 0;
    d->dec->max_pixels = kMaxFramePixels;
    d->dec->get_buffer2 = cleared_buffer;
    if (const int r = avcodec_open2(d->dec.get(), codec, nullptr); r < 0) {
        warn_av("opening the decoder", r);
        return nullptr;
    }
    if (par->codec_id == AV_CODEC_ID_MPEG4) {
        // Packed B-frames (a B riding in its P's chunk, an empty placeholder after it)
        // would give pictures in the wrong slots; the filter puts each in its own chunk.
        const AVBitStreamFilter* filter = av_bsf_get_by_name("mpeg4_unpack_bframes");
        if (!filter) return nullptr;
        AVBSFContext* b = nullptr;
        if (const int r = av_bsf_alloc(filter, &b); r < 0) {
            warn_av("bitstream filter", r);
            return nullptr;
        }
        d->bsf.reset(b);
        if (const int r = avcodec_parameters_copy(d->bsf->par_in, par); r < 0) {
            warn_av("bitstream filter parameters", r);
            return nullptr;
        }
        d->bsf->time_base_in = st->time_base;
        if (const int r = av_bsf_init(d->bsf.get()); r < 0) {
            warn_av("bitstream filter init", r);
            return nullptr;
        }
    }

    // Decode the first picture: it proves the clip plays, gives the picture size, and
    // measures the decoder's delay (a decoder that reorders gives a picture only a few
    // chunks later, stamped with the later chunk's slot).
    const IndexEntry first = d->index.key_at_or_before(d->index.picture_of(0));
    if (d->start_run(first) != MediaError::None) return nullptr;
    FramePtr pic;
    if (d->receive(pic, kPacketSlack) != Impl::Got::Picture) return nullptr;
    if (damaged_picture(*pic) || d->rejected.contains(first.slot)) {
        qWarning("media: the first picture is damaged");
        return nullptr;
    }
    const int64_t ts = pic->pkt_dts != AV_NOPTS_VALUE ? pic->pkt_dts : pic->best_effort_timestamp;
    d->delay = ts == AV_NOPTS_VALUE ? 0 : std::max<int64_t>(0, ts - first.slot);
    d->first_pending = false;
    if (!has_index && pic->pict_type == AV_PICTURE_TYPE_NONE &&
        !(avcodec_descriptor_get(par->codec_id) &&
          (avcodec_descriptor_get(par->codec_id)->props & AV_CODEC_PROP_INTRA_ONLY))) {
        // No index, and a decoder that does not tell keyframes from others: no chunk
        // but the first is a safe start.
        d->index.keep_first_key_only();
    }
    d->last_out = d->last_seen = first.slot;
    d->last_pic = pic;
    d->size = QSize(pic->width, pic->height);
    d->cache_put(first.slot, pic, first.slot);
    d->current_pic = pic;
    d->current_frame = 0;
    error = MediaError::None;
    return std::unique_ptr<VideoClip>(new VideoClip(std::move(d)));
}

int64_t VideoClip::length() const { return d_->index.length(); }
QSize VideoClip::size() const { return d_->size; }
int64_t VideoClip::frame_num() const { return d_->frame_duration.num; }
int64_t VideoClip::frame_den() const { return d_->frame_duration.den; }
const FrameIndex& VideoClip::index() const { return d_->index; }
int64_t VideoClip::time_us(int64_t n) const {
    return av_rescale(n, d_->frame_duration.num * int64_t{1'000'000}, d_->frame_duration.den);
}
double VideoClip::frame_rate() const { return av_q2d(av_inv_q(d_->frame_duration)); }
double VideoClip::capture_rate() const { return frame_rate(); }
int64_t VideoClip::decoder_delay() const { return d_->delay; }
int64_t VideoClip::current() const { return d_->current_frame; }
uint64_t VideoClip::picture_digest() const {
    return d_->current_pic ? frame_digest(*d_->current_pic) : 0;
}
VideoClip::Counters VideoClip::counters() const { return d_->counters; }
size_t VideoClip::cache_bytes() const { return d_->cache_size; }
size_t VideoClip::cache_bound() const { return d_->cache_bound; }

void VideoClip::set_cache_bound(size_t bytes) {
    d_->cache_bound = bytes;
    d_->cache_clear();
}

void VideoClip::set_naive(bool naive) {
    d_->naive = naive;
    d_->cache_clear();
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
        if (const auto it = d_->cache.find(p); it != d_->cache.end()) {
            ++d_->counters.cache_hits;
            d_->current_pic = it->second;
            d_->current_frame = n;
            return MediaError::None;
        }
    }
    FramePtr pic;
    constexpr int64_t kKeptAfterJump = 64;
    d_->keep_before = n == d_->current_frame - 1 ? INT64_MAX : kKeptAfterJump;
    if (const auto e = d_->decode_to(p, pic); e != MediaError::None) return e;
    if (d_->rejected.contains(p) || d_->lost.contains(p)) return MediaError::DecodeFailed;
    d_->current_pic = std::move(pic);
    d_->current_frame = n;
    return MediaError::None;
}

MediaError VideoClip::draw(QImage& target, const QRect& dest, Scaler which) {
    const AVFrame* f = d_->current_pic.get();
    if (!f) return MediaError::DecodeFailed;
    const QRect visible = dest.intersected(target.rect());
    if (visible.isEmpty() || dest.isEmpty()) return MediaError::None;
    const bool direct = visible == dest && (target.format() == QImage::Format_RGB32 ||
                                            target.format() == QImage::Format_ARGB32);

    bool full_range = f->color_range == AVCOL_RANGE_JPEG;
    const AVPixelFormat src = plain_format(static_cast<AVPixelFormat>(f->format), full_range);
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(src);
    if (!desc) return MediaError::DecodeFailed;
    // Big reductions alias with bicubic taps; area averaging keeps them clean.
    const bool big_downscale = dest.width() * 2 < f->width || dest.height() * 2 < f->height;
    const int flags =
        (big_downscale ? SWS_AREA : SWS_BICUBIC) | SWS_FULL_CHR_H_INT | SWS_ACCURATE_RND;
    auto& slot = d_->sws[which == Scaler::Window ? 0 : 1];
    SwsContext* ctx =
        sws_getCachedContext(slot.release(), f->width, f->height, src, dest.width(), dest.height(),
                             AV_PIX_FMT_RGB32, flags, nullptr, nullptr, nullptr);
    slot.reset(ctx);
    if (!ctx) {
        qWarning("media: no scaler for this picture format");
        return MediaError::DecodeFailed;
    }
    const bool yuv =
        !(desc->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL)) && desc->nb_components >= 3;
    if (yuv) {
        const int* coefficients = sws_getCoefficients(sws_matrix(f->colorspace, f->height));
        if (sws_setColorspaceDetails(ctx, coefficients, full_range ? 1 : 0,
                                     sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16,
                                     1 << 16) < 0) {
            qWarning("media: scaler refused the colour matrix");
            return MediaError::DecodeFailed;
        }
    }
    QImage scratch;
    uint8_t* dst = nullptr;
    int dst_stride = 0;
    if (direct) {
        dst =
            target.bits() + static_cast<ptrdiff_t>(dest.y()) * target.bytesPerLine() + dest.x() * 4;
        dst_stride = static_cast<int>(target.bytesPerLine());
    } else {
        scratch = QImage(dest.size(), QImage::Format_RGB32);
        if (scratch.isNull()) return MediaError::DecodeFailed;
        dst = scratch.bits();
        dst_stride = static_cast<int>(scratch.bytesPerLine());
    }
    uint8_t* planes[4] = {dst, nullptr, nullptr, nullptr};
    int strides[4] = {dst_stride, 0, 0, 0};
    const int rows = sws_scale(ctx, f->data, f->linesize, 0, f->height, planes, strides);
    if (rows != dest.height()) {
        if (rows < 0) warn_av("scaling", rows);
        return MediaError::DecodeFailed;
    }
    if (!direct) {
        const QImage part =
            scratch.copy(visible.translated(-dest.topLeft())).convertToFormat(target.format());
        const int bpp = part.depth() / 8;
        if (part.isNull() || part.depth() % 8 != 0) return MediaError::DecodeFailed;
        for (int y = 0; y < part.height(); ++y) {
            std::memcpy(target.scanLine(visible.y() + y) + visible.x() * bpp, part.constScanLine(y),
                        static_cast<size_t>(part.width()) * bpp);
        }
    }
    return MediaError::None;
}

}  // namespace tambrel::media

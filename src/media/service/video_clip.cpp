#include "media/service/video_clip.h"

#include "media/service/av_log.h"
#include "media/service/av_ptr.h"
#include "media/service/file_source.h"
#include "media/service/frame_digest.h"
#include "media/service/frame_numbering.h"
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
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <set>
#include <thread>

namespace tambrel::media {

namespace {

using FramePtr = std::shared_ptr<AVFrame>;

// Safety bounds for loops that read a file: a damaged or hostile file ends in an error
// instead of a hang.
constexpr int kMaxStartAttempts = 16;  // keyframe starts tried for one request
constexpr int64_t kPacketSlack = 256;  // packets read beyond the distance to the target

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

}  // namespace

struct VideoClip::Impl {
    explicit Impl(const Options& options)
        : budget(options.budget ? options.budget : &MemoryBudget::process()),
          cache(*budget, options.cache_bound) {}

    // Declared first, so that it outlives the demuxer reading through it.
    std::unique_ptr<FileSource> source;
    av::InputPtr fmt;
    av::CodecPtr dec;
    av::BsfPtr bsf;  // where the numbering asks for one (MPEG-4 Part 2 in AVI)
    av::PacketPtr pkt;
    av::FramePtr work;
    int vs = -1;
    FrameIndex index;
    std::unique_ptr<FrameNumbering> numbering;  // how frames are numbered: slot, stamp, order
    double capture = 0;                         // frames per second as filmed; 0: as the frame rate
    Orientation orientation;
    PicturePipeline pipelines[2];
    bool palette_pending = false;  // the numbering's palette goes with the next packet
    QSize size;

    // Decoder run: the decoder was started at run_key and has given pictures up to
    // last_out (display numbers); -1 when none yet.
    bool positioned = false;
    bool input_ended = false;  // end of stream sent to the filter or decoder
    bool decoder_eof_sent = false;
    int64_t run_key = -1;
    int64_t last_out = -1;
    FramePtr last_pic;  // the picture numbered last_out; null when it was lost
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
    // The steps of opening, each with its own bound.
    bool open_container(const std::string& path);
    bool choose_stream(const AVCodec*& codec);
    bool number_frames();
    MediaError reserve_working_set(const AVCodec* codec);
    bool open_decoder(const AVCodec* codec);
    bool first_picture();
    void keep(int64_t display, const FramePtr& f, int64_t focus) {
        if (!naive) cache.put(display, f, frame_bytes(*f), focus);
    }
    MediaError decode_to(int64_t p, FramePtr& result);
};

MediaError VideoClip::Impl::start_run(const IndexEntry& k) {
    const int r = numbering->seek(*fmt, vs, k);
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
    first_pending = true;
    palette_pending = numbering->palette() != nullptr;
    packets_in_run = 0;
    last_read = -1;
    run_damaged = false;
    damage_hold = 0;
    ++counters.seeks;
    return MediaError::None;
}

int VideoClip::Impl::read_video_packet() {
    return read_stream_packet(*fmt, vs, *pkt,
                              [this](const AVPacket& p) { return numbering->admit(p); });
}

bool VideoClip::Impl::send_to_decoder(AVPacket* p) {
    if (!p) {
        if (decoder_eof_sent) return true;
        decoder_eof_sent = true;
    }
    const int64_t slot = p ? numbering->number_of(*p) : AV_NOPTS_VALUE;
    numbering->label(*dec, slot);
    // A chunk the file ends inside is not decoded: no picture is whole from it, and a
    // decoder of plain pictures would fill the missing rows from memory it never wrote.
    const int r =
        p && numbering->read_in_part(*p) ? AVERROR_INVALIDDATA : avcodec_send_packet(dec.get(), p);
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
    damage_hold = numbering->delay();
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
        if (const int64_t n = numbering->number_of(*pkt); n != AV_NOPTS_VALUE)
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
            std::memcpy(side, numbering->palette()->data(), AVPALETTE_SIZE);
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

MediaError VideoClip::Impl::decode_to(int64_t p, FramePtr& result) {
    IndexEntry k = index.key_at_or_before(p);
    int64_t back = 1;  // how far to step back when a start point proves false
    for (int attempt = 0; attempt < kMaxStartAttempts; ++attempt) {
        const bool carry_on =
            !naive && positioned && p > last_out && k.slot <= std::max(run_key, last_out + 1);
        if (!carry_on)
            if (const auto e = start_run(k); e != MediaError::None) return e;
        const int64_t from = std::max(run_key, last_out);
        const int64_t limit = packets_in_run + (p - from) + numbering->delay() + kPacketSlack;
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
            const int64_t display = numbering->display_of(*f);
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
    if (!d->open_container(path) || !d->choose_stream(codec) || !d->number_frames()) return nullptr;
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
    FrameNumbering::prepare(*fmt);
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
    if (st->time_base.num <= 0 || st->time_base.den <= 0) return false;

    if (const uint8_t* matrix = av_stream_get_side_data(st, AV_PKT_DATA_DISPLAYMATRIX, nullptr))
        orientation = orientation_from_matrix(reinterpret_cast<const int32_t*>(matrix));
    // Slow-motion clips from Android phones say how fast they were filmed.
    for (AVDictionary* meta : {fmt->metadata, st->metadata})
        if (const AVDictionaryEntry* e = av_dict_get(meta, "com.android.capture.fps", nullptr, 0)) {
            const double fps = std::strtod(e->value, nullptr);
            if (std::isfinite(fps) && fps > 0 && fps < 1e6) capture = fps;
        }
    pkt.reset(av_packet_alloc());
    work.reset(av_frame_alloc());
    return pkt && work;
}

bool VideoClip::Impl::number_frames() {
    StreamScan scan{
        *fmt, vs, *pkt, *source,
        static_cast<size_t>(vs) < header_index_entries.size() && header_index_entries[vs] > 0};
    numbering = FrameNumbering::build(scan, index);
    return numbering != nullptr;
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
        numbering->frame_threads()
            ? std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1, 4)
            : 1;
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
    // Frame threads shift pictures against the packets they come out with: only where
    // the number travels with the picture.
    const bool frame_threads = numbering->frame_threads();
    dec->thread_type = frame_threads ? FF_THREAD_FRAME | FF_THREAD_SLICE : FF_THREAD_SLICE;
    dec->thread_count = frame_threads ? threads : 0;
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
    if (const char* name = numbering->bitstream_filter(*par)) {
        const AVBitStreamFilter* filter = av_bsf_get_by_name(name);
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
    // gives the numbering what it measures (the decoder's delay).
    const IndexEntry first = index.key_at_or_before(index.picture_of(0));
    if (start_run(first) != MediaError::None) return false;
    FramePtr pic;
    for (;;) {
        if (receive(pic, kPacketSlack) != Got::Picture) return false;
        // Pictures that are never shown (before an edit list's start) come first.
        if (numbering->shown(*pic)) break;
    }
    if (damaged_picture(*pic) || rejected.contains(first.slot)) {
        qWarning("media: the first picture is damaged");
        return false;
    }
    const int64_t shown_as = numbering->first_picture(*pic, first, index);
    first_pending = false;
    last_out = shown_as;
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
int64_t VideoClip::frame_num() const { return d_->numbering->frame_duration().num; }
int64_t VideoClip::frame_den() const { return d_->numbering->frame_duration().den; }
const FrameIndex& VideoClip::index() const { return d_->index; }
int64_t VideoClip::time_ns(int64_t n) const { return d_->numbering->time_ns(n); }
int64_t VideoClip::frame_at_ns(int64_t t) const {
    return t <= 0 ? 0 : d_->numbering->frame_at_ns(t, length());
}
double VideoClip::frame_rate() const { return av_q2d(av_inv_q(d_->numbering->frame_duration())); }
double VideoClip::capture_rate() const { return d_->capture > 0 ? d_->capture : frame_rate(); }
int64_t VideoClip::decoder_delay() const { return d_->numbering->delay(); }
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
    if (d_->numbering->tail_missing() && n > d_->index.picture_of(length() - 1))
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

#pragma once
// How a clip's frames are numbered, one scheme per kind of stream, behind the questions
// the decode-and-cache engine asks: which frame a packet is, how to seek to a start
// point, which packets after a seek are decoded, which frame a decoded picture is, and
// when a frame is shown.
//
// - By slot (AVI): every chunk is stamped with its frame slot, and empty chunks repeat
//   the picture before them. The number is the chunk's, read back from the decoder's
//   output with the decoder's delay.
// - By presentation stamp (every other container): frame n is the n-th picture in
//   presentation order; the stamp travels with the picture through the decoder.
// - By decode order (MPEG-1/2 streams that stamp only some pictures): frames are
//   numbered from the pictures' coding types in decode order, and each packet's number
//   rides through the decoder with it.
//
// A numbering is built with the clip's frame index at open; it holds what only its
// scheme needs. One owner, one thread.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <array>
#include <cstdint>
#include <memory>

#include "media/service/frame_index.h"

namespace tambrel::media {

class FileSource;

// Packets passed over for one read (other streams', and those before a start point): a
// damaged or hostile file ends in an error instead of a hang.
inline constexpr int kMaxForeignPackets = 100000;

// Reads the next packet of stream `stream` that `admit` takes into `pkt`, passing over
// other streams' packets and the ones refused. 0, or libav's error (AVERROR_EOF at the
// end).
template <class Admit>
int read_stream_packet(AVFormatContext& fmt, int stream, AVPacket& pkt, Admit&& admit) {
    for (int skipped = 0; skipped < kMaxForeignPackets; ++skipped) {
        const int r = av_read_frame(&fmt, &pkt);
        if (r < 0) return r;
        if (pkt.stream_index == stream && admit(pkt)) return 0;
        av_packet_unref(&pkt);
    }
    return AVERROR_INVALIDDATA;
}

// The opened container as the index pass reads it.
struct StreamScan {
    AVFormatContext& fmt;
    int stream;
    AVPacket& pkt;  // scratch
    FileSource& source;
    // The demuxer found an index of the container's own with the header (read before
    // stream probing, which adds entries for the chunks it reads).
    bool header_index;
};

using Palette = std::array<uint8_t, AVPALETTE_SIZE>;

class FrameNumbering {
  public:
    virtual ~FrameNumbering() = default;

    // Before stream probing: demuxers of streams that need not stamp every picture may
    // work the missing stamps out by reading ahead.
    static void prepare(AVFormatContext& fmt);
    // Reads the stream's packets (not decoding them) and builds the frame index and the
    // numbering that goes with it. nullptr when the stream has no frame to show.
    static std::unique_ptr<FrameNumbering> build(StreamScan& scan, FrameIndex& index);

    // ---- Decoding
    // Whether a picture's number travels with it through the decoder, so that frame
    // threads, which shift pictures against the packets they come out with, may decode.
    virtual bool frame_threads() const = 0;
    // A bitstream filter that must stand between the demuxer and the decoder; null: none.
    virtual const char* bitstream_filter(const AVCodecParameters&) const { return nullptr; }
    // A palette to give the decoder with the first packet after every seek (the demuxer
    // hands it on with the first packet it ever reads only); null: none.
    virtual const Palette* palette() const { return nullptr; }
    // How many packets later than its own a picture comes out of the decoder, measured
    // at open (0 where the number travels with the picture).
    virtual int64_t delay() const { return 0; }
    // Whether the frames the container promises after the last packet are missing (the
    // file was cut short), rather than repeats of the last picture.
    virtual bool tail_missing() const { return false; }
    // Whether the demuxer could read `p` only in part, the file ending inside its chunk.
    virtual bool read_in_part(const AVPacket& /*p*/) const { return false; }

    // ---- A run from a start point
    // Seeks the demuxer to start point `start`; libav's result. After it, `admit` passes
    // over the packets before the start point.
    virtual int seek(AVFormatContext& fmt, int stream, const IndexEntry& start) = 0;
    // Whether a video packet just read is to be decoded. Called for every video packet
    // read in a run, in order.
    virtual bool admit(const AVPacket& p) = 0;
    // The frame of the packet last admitted; AV_NOPTS_VALUE when it names none.
    virtual int64_t number_of(const AVPacket& p) const = 0;
    // Hands `number` (number_of of the packet about to be sent, AV_NOPTS_VALUE for none or
    // the end of the stream) to the decoder, where the scheme's number rides with it.
    virtual void label(AVCodecContext&, int64_t /*number*/) const {}
    // The display number of a picture as it comes out of the decoder; below 0 for a
    // picture that is never shown. Called for every picture decoded in a run, in order.
    virtual int64_t display_of(const AVFrame& f) = 0;
    // Whether a picture is shown at all (those before an edit list's start are not).
    virtual bool shown(const AVFrame& f) const = 0;
    // The first picture at open, decoded from start point `first`: what the scheme
    // measures from it is taken, and its display number given. May change which entries
    // of `index` are start points.
    virtual int64_t first_picture(const AVFrame& pic, const IndexEntry& first,
                                  FrameIndex& index) = 0;

    // ---- Time
    // How long one frame lasts (the nominal rate).
    AVRational frame_duration() const { return frame_duration_; }
    // Presentation time of frame n from frame 0, in nanoseconds (rounded up).
    virtual int64_t time_ns(int64_t n) const = 0;
    // The last of `length` frames whose time is at or before t > 0 nanoseconds.
    virtual int64_t frame_at_ns(int64_t t, int64_t length) const;

  protected:
    AVRational frame_duration_{1, 25};
};

}  // namespace tambrel::media

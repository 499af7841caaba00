// The clip API's entry points: availability of encoders and writing a clip.

#include "clipgen.h"

extern "C" {
#include <libavutil/log.h>
}

#include <array>
#include <filesystem>
#include <mutex>
#include <optional>

#include "formats.h"
#include "writer.h"

namespace tambrel::clipgen {

namespace {

// Finding the encoder is not enough (a wrapper may fail to start): open one, at a size and
// rate every codec takes.
bool encoder_opens(Codec codec) {
    const CodecInfo& info = info_of(codec);
    if (info.encoder == nullptr) return true;
    ClipOptions probe;
    probe.codec = codec;
    probe.path = container_holds(Container::Avi, codec) ? "probe.avi" : "probe.mkv";
    if (codec == Codec::Wmv2) probe.path = "probe.wmv";
    QSize size(64, 48);
    if (info.even_size) size = QSize(64, 64);
    if (codec == Codec::Dv) {
        size = QSize(720, 480);
        probe.fps_num = 30000;
        probe.fps_den = 1001;
    }
    av::CodecPtr ctx;
    const auto error = open_video_encoder(probe, size, false, ctx);
    if (error) av_log(nullptr, AV_LOG_VERBOSE, "make-clip: %s\n", error->c_str());
    discard_encoder_output(ctx.get(), false);
    return !error.has_value();
}

}  // namespace

bool codec_available(Codec codec) {
    // Each encoder is tried once, when first asked about (some take a while to start).
    static std::mutex mutex;
    static std::array<std::optional<bool>, std::size(every_codec)> known;
    const std::lock_guard lock(mutex);
    for (size_t i = 0; i < std::size(every_codec); ++i) {
        if (every_codec[i] != codec) continue;
        if (!known[i]) known[i] = encoder_opens(codec);
        return *known[i];
    }
    return false;
}

std::optional<std::string> write_clip(const ClipOptions& options) {
    if (auto error = validate(options)) return error;
    bool created = false;
    std::optional<std::string> error = write_clip_file(options, created);
    if (created && error) {
        // A half-written clip would look valid to a quick glance; do not leave it behind.
        std::error_code ignored;
        std::filesystem::remove(options.path, ignored);
    }
    return error;
}

}  // namespace tambrel::clipgen

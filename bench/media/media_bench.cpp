// media_bench: how fast the media service steps, steps back and seeks, side by side with
// the naive method (seek to the preceding keyframe and decode forward for every
// request); how long a ten-minute clip takes to open; and how a 20 s playback keeps
// time. Clips are made by tambrel_clipgen in a temporary folder: AVI as before, 1080p60
// HEVC and 240 fps slow motion in MP4 as phones record them, and ten minutes of 1080p in
// MP4, Matroska and MPEG-TS (looped by the ffmpeg tool, when installed).
//
// Usage: media_bench [--quick]   (--quick: fewer samples, shorter playback)

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QWidget>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "clipgen.h"
#include "core/handles.h"
#include "media/service/video_device.h"
#include "media/service/command_service.h"
#include "media/service/path_codec.h"

namespace {

using tambrel::media::VideoClip;
using tambrel::media::CommandService;

struct Clip {
    std::string label;
    std::string path;
};

Clip make(const QTemporaryDir& dir, const char* label, tambrel::clipgen::Codec codec, int w, int h,
          int frames, int gop, int fps = 30, const char* extension = ".avi") {
    tambrel::clipgen::ClipOptions o;
    o.path = QDir(dir.path()).filePath(QString::fromLatin1(label) + extension).toStdString();
    o.codec = codec;
    o.width = w;
    o.height = h;
    o.frames = frames;
    o.keyframe_interval = gop;
    o.fps_num = fps;
    QElapsedTimer t;
    t.start();
    if (const auto err = tambrel::clipgen::write_clip(o)) {
        std::fprintf(stderr, "cannot write %s: %s\n", label, err->c_str());
        std::exit(2);
    }
    std::printf("  made %-34s %dx%d, %d frames at %d fps, keyframe every %d (%.1f s)\n", label, w,
                h, frames, fps, gop, t.nsecsElapsed() / 1e9);
    return {label, o.path};
}

void run(CommandService& service, const std::string& command) {
    std::string reply;
    if (const int rc = service.execute(command, reply); rc != 0) {
        std::fprintf(stderr, "command failed (%d): %s\n", rc, command.c_str());
        std::exit(3);
    }
}

struct Figures {
    double p50 = 0, p95 = 0, max = 0, decodes = 0;
};

Figures summarise(std::vector<double> ms, int64_t decoded) {
    Figures f;
    if (ms.empty()) return f;
    std::sort(ms.begin(), ms.end());
    auto at = [&](double q) {
        return ms[std::min(ms.size() - 1, static_cast<size_t>(q * (ms.size() - 1) + 0.5))];
    };
    f.p50 = at(0.50);
    f.p95 = at(0.95);
    f.max = ms.back();
    f.decodes = static_cast<double>(decoded) / static_cast<double>(ms.size());
    return f;
}

enum class Op { Forward, Backward, Seek };

// Times `samples` requests of one kind. Forward and backward steps run as one walk each
// from a start inside the second group of pictures; seeks go to random frames.
Figures measure(CommandService& service, VideoClip& clip, Op op, int samples, int64_t length) {
    std::mt19937 rng(2024);
    // Inside the second group of pictures, where a naive request decodes the most.
    const int64_t middle = std::min<int64_t>(length - 1, 480);
    std::vector<double> ms;
    if (op == Op::Forward)
        run(service, "seek avfile to " + std::to_string(std::max<int64_t>(0, middle - samples)));
    if (op == Op::Backward) run(service, "seek avfile to " + std::to_string(middle));
    const int64_t decoded_before = clip.counters().decoded;
    for (int i = 0; i < samples; ++i) {
        std::string command = op == Op::Forward ? "step avfile"
                              : op == Op::Backward
                                  ? "step avfile reverse"
                                  : "seek avfile to " + std::to_string(rng() % length);
        QElapsedTimer t;
        t.start();
        run(service, command);
        ms.push_back(t.nsecsElapsed() / 1e6);
    }
    return summarise(ms, clip.counters().decoded - decoded_before);
}

void compare(const Clip& clip, int samples, int naive_samples) {
    tambrel::HandleTable handles;
    CommandService service(handles);
    run(service, "open " + tambrel::media::encode_command_path(clip.path) + " alias avfile");
    VideoClip& c = service.device("avfile")->clip();
    const int64_t length = c.length();
    std::printf("\n%s (%lld frames, %zu keyframes, decoder delay %lld)\n", clip.label.c_str(),
                static_cast<long long>(length), c.index().key_count(),
                static_cast<long long>(c.decoder_delay()));
    std::printf("  %-14s | %37s | %37s\n", "", "cached (this service)",
                "naive (keyframe + decode)");
    std::printf("  %-14s | %8s %8s %8s %11s | %8s %8s %8s %11s\n", "request", "p50 ms", "p95 ms",
                "max ms", "decodes/req", "p50 ms", "p95 ms", "max ms", "decodes/req");
    const struct {
        Op op;
        const char* name;
    } ops[] = {
        {Op::Forward, "step forward"}, {Op::Backward, "step back"}, {Op::Seek, "random seek"}};
    size_t cache_peak = 0;
    for (const auto& o : ops) {
        c.set_naive(false);
        c.set_cache_bound(VideoClip::kDefaultCacheBound);
        const Figures ours = measure(service, c, o.op, samples, length);
        cache_peak = std::max(cache_peak, c.cache_bytes());
        c.set_naive(true);
        const Figures naive = measure(service, c, o.op, naive_samples, length);
        std::printf("  %-14s | %8.2f %8.2f %8.2f %11.1f | %8.2f %8.2f %8.2f %11.1f\n", o.name,
                    ours.p50, ours.p95, ours.max, ours.decodes, naive.p50, naive.p95, naive.max,
                    naive.decodes);
    }
    c.set_naive(false);
    std::printf("  cache bound %zu MiB; largest use seen after a series: %.1f MiB\n",
                c.cache_bound() >> 20, cache_peak / 1048576.0);
    run(service, "close avfile");
}

void open_time(const Clip& clip, int runs) {
    tambrel::HandleTable handles;
    CommandService service(handles);
    std::vector<double> ms;
    std::string length;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        run(service, "open " + tambrel::media::encode_command_path(clip.path) + " alias avfile");
        ms.push_back(t.nsecsElapsed() / 1e6);
        service.execute("status avfile length", length);
        run(service, "close avfile");
    }
    const Figures f = summarise(ms, 0);
    std::printf("\nopen %s: %s frames; open p50 %.1f ms, max %.1f ms over %d runs\n",
                clip.label.c_str(), length.c_str(), f.p50, *std::max_element(ms.begin(), ms.end()),
                runs);
}

// The same frames looped into a clip `times` as long, in the container `extension` names,
// by FFmpeg's own tool (a stream copy: quick). Empty when the tool is not installed.
std::optional<Clip> looped(const QTemporaryDir& dir, const Clip& source, int times,
                           const char* label, const char* extension) {
    const QString ffmpeg = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
    if (ffmpeg.isEmpty()) return std::nullopt;
    const QString out = QDir(dir.path()).filePath(QString::fromLatin1(label) + extension);
    QProcess p;
    p.start(ffmpeg, {"-v", "error", "-y", "-stream_loop", QString::number(times - 1), "-i",
                     QString::fromStdString(source.path), "-c", "copy", "-an", out});
    if (!p.waitForFinished(600000) || p.exitCode() != 0) {
        std::fprintf(stderr, "ffmpeg could not loop %s: %s\n", source.label.c_str(),
                     p.readAllStandardError().constData());
        return std::nullopt;
    }
    return Clip{label, out.toStdString()};
}

void playback(const Clip& clip, int seconds) {
    tambrel::HandleTable handles;
    CommandService service(handles);
    QWidget parent;
    parent.resize(640, 480);
    const int32_t hwnd = handles.add_window(&parent);
    run(service, "open " + tambrel::media::encode_command_path(clip.path) +
                     " alias avfile style child parent " + std::to_string(hwnd));
    run(service, "put avfile destination at 0 0  640  480");
    auto& device = *service.device("avfile");
    QElapsedTimer t;
    t.start();
    run(service, "play avfile window");
    std::vector<double> gaps;  // longest time the event loop was held, per turn
    QElapsedTimer turn;
    while (t.elapsed() < seconds * 1000 && device.playing()) {
        turn.start();
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        gaps.push_back(turn.nsecsElapsed() / 1e6);
    }
    std::string pos;
    service.execute("status avfile position", pos);
    run(service, "pause avfile");
    const double elapsed = t.nsecsElapsed() / 1e9;
    const auto s = device.playback_stats();
    const double expected = elapsed * 30.0;
    std::printf("\nplay %s for %.2f s at 30 fps (video window, offscreen)\n", clip.label.c_str(),
                elapsed);
    std::printf(
        "  position %s (clock says %.1f); shown %lld, late %lld (over half a frame), skipped "
        "%lld\n",
        pos.c_str(), expected, static_cast<long long>(s.shown), static_cast<long long>(s.late),
        static_cast<long long>(s.skipped));
    std::printf("  longest event-loop turn %.1f ms (frame period 33.3 ms)\n",
                gaps.empty() ? 0.0 : *std::max_element(gaps.begin(), gaps.end()));
    run(service, "close avfile");
}

}  // namespace

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    using tambrel::clipgen::Codec;
    QTemporaryDir dir;
    std::printf("making clips (tambrel_clipgen)\n");
    const Clip mpeg4 = make(dir, "mpeg4-640x480-gop250", Codec::Mpeg4, 640, 480, 750, 250);
    const Clip h264 =
        make(dir, "h264-1920x1080-gop250", Codec::H264, 1920, 1080, quick ? 260 : 500, 250);
    const Clip long_clip =
        make(dir, "mpeg4-320x240-10min", Codec::Mpeg4, 320, 240, quick ? 1800 : 18000, 250);
    // What phones record: 1080p60 HEVC with a keyframe a second, and slow motion at 240 fps.
    const Clip hevc = make(dir, "hevc-1920x1080-60fps-gop60", Codec::Hevc, 1920, 1080,
                           quick ? 120 : 300, 60, 60, ".mp4");
    const Clip slow = make(dir, "h264-1280x720-240fps-gop240", Codec::H264, 1280, 720,
                           quick ? 300 : 720, 240, 240, ".mp4");
    // Twenty seconds of 1080p, looped to ten minutes in each container.
    const Clip twenty = make(dir, "h264-1920x1080-20s", Codec::H264, 1920, 1080, quick ? 150 : 600,
                             30, 30, ".mp4");
    const int loops = quick ? 4 : 30;
    std::vector<Clip> long_hd;
    for (const auto& [label, extension] :
         {std::pair{"h264-1920x1080-10min", ".mp4"}, std::pair{"h264-1920x1080-10min", ".mkv"},
          std::pair{"h264-1920x1080-10min", ".mts"}})
        if (auto c = looped(dir, twenty, loops, label, extension)) {
            c->label += extension;
            long_hd.push_back(*c);
        }
    if (long_hd.empty()) std::printf("  (ffmpeg is not installed: no long 1080p clips)\n");

    compare(mpeg4, quick ? 40 : 200, quick ? 10 : 60);
    compare(h264, quick ? 20 : 120, quick ? 5 : 25);
    compare(hevc, quick ? 20 : 120, quick ? 5 : 25);
    compare(slow, quick ? 20 : 120, quick ? 5 : 25);
    open_time(long_clip, 5);
    for (const Clip& c : long_hd) open_time(c, 3);
    playback(mpeg4, quick ? 3 : 20);
    return 0;
}

#pragma once
// What the clip fuzz targets share: each input is a whole file, written to a scratch file
// under a name a real file of its kind carries (libavformat's probe weighs the name when
// the content is damaged), opened through the media service, and walked. An open that is
// accepted must give a sane clip (length, picture size within the limits, a usable rate
// and times in order); stepping forward and back, seeking, playing and drawing must end
// in 0 or an error number, never in a fault or a hang: every decode loop of the device is
// bounded. Once the device is gone, the memory budget holds nothing of it.

#include <QDir>
#include <QGuiApplication>
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "core/surface.h"
#include "media/service/memory_budget.h"
#include "media/service/video_clip.h"
#include "media/service/video_device.h"

namespace tambrel::fuzzing {

// Frames visited per input: enough to pass a few groups of pictures.
inline constexpr int64_t kMaxSteps = 48;
// Frames playback may cover per input.
inline constexpr int64_t kMaxPlayed = 16;

inline void require(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "property broken: %s\n", what);
        std::abort();
    }
}

// Surfaces carry a font, which needs a GUI application. Call from LLVMFuzzerInitialize.
inline void start_gui(int* argc, char*** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static auto app = std::make_unique<QGuiApplication>(*argc, *argv);
}

namespace detail {

inline std::map<std::string, std::string, std::less<>>& scratch_files() {
    static std::map<std::string, std::string, std::less<>> files;
    return files;
}

inline void remove_scratch_files() {
    for (const auto& [extension, path] : scratch_files()) std::remove(path.c_str());
}

// Memory-backed when available: the file is rewritten for every input.
inline const std::string& scratch_path(std::string_view extension) {
    auto& files = scratch_files();
    if (const auto it = files.find(extension); it != files.end()) return it->second;
    if (files.empty()) std::atexit(remove_scratch_files);
    const QString dir = QDir("/dev/shm").exists() ? "/dev/shm" : QDir::tempPath();
    const std::string path =
        (dir + "/tambrel-fuzz-" + QString::number(QCoreApplication::applicationPid()))
            .toStdString() +
        std::string(extension);
    return files.emplace(std::string(extension), path).first->second;
}

inline bool expected(media::MediaError e) {
    using media::MediaError;
    return e == MediaError::None || e == MediaError::DecodeFailed || e == MediaError::OutOfRange;
}

// Drawing may also find the budget too small for its scratch picture.
inline bool expected_draw(media::MediaError e) {
    return expected(e) || e == media::MediaError::NoMemory;
}

inline void check_clip(media::VideoDevice& device) {
    using namespace media;
    VideoClip& clip = device.clip();
    const int64_t length = device.length();
    const QSize picture = clip.size();
    require(length >= 1, "open clip without frames");
    require(picture.width() > 0 && picture.height() > 0 && picture.width() <= kMaxFrameSide &&
                picture.height() <= kMaxFrameSide &&
                int64_t{picture.width()} * picture.height() <= kMaxFramePixels,
            "picture size beyond the limits");
    // Playback divides by these.
    require(clip.frame_num() > 0 && clip.frame_den() > 0, "frame duration not positive");
    require(std::isfinite(clip.frame_rate()) && clip.frame_rate() > 0, "frame rate unusable");
    require(std::isfinite(clip.capture_rate()) && clip.capture_rate() > 0, "capture rate unusable");
    // Times grow with frame numbers, and a frame's own time names a frame of that time
    // (frames may share one: damaged files repeat stamps).
    require(clip.time_ns(0) == 0, "frame 0 not at time 0");
    for (int64_t n = 1; n < std::min(length, kMaxSteps); ++n) {
        const int64_t t = clip.time_ns(n);
        require(t >= clip.time_ns(n - 1), "times out of order");
        const int64_t named = clip.frame_at_ns(t);
        require(named >= 0 && named < length && clip.time_ns(named) == t,
                "a frame's time names a frame of another time");
    }
}

}  // namespace detail

// One input: `file` is the whole file; `extension` (with its dot) names the scratch copy.
inline int drive_clip(std::span<const uint8_t> file, std::string_view extension) {
    using namespace media;
    const std::string& path = detail::scratch_path(extension);
    {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        require(f != nullptr, "scratch file");
        if (!file.empty()) std::fwrite(file.data(), 1, file.size(), f);
        std::fclose(f);
    }
    {
        MediaError error = MediaError::None;
        auto device = VideoDevice::open(path, nullptr, error);
        if (!device) {
            require(error == MediaError::NotPlayable || error == MediaError::FileNotFound ||
                        error == MediaError::NoMemory,
                    "refused open without a refusal number");
            require(MemoryBudget::process().used() == 0, "a refused open kept budget");
            return 0;
        }
        detail::check_clip(*device);
        const int64_t length = device->length();

        PictureSurface surface(40, 30);
        require(device->set_destination(QRect(0, 0, 40, 30)) == MediaError::None,
                "small destination refused");
        // The last byte steers the walk so that mutations also vary where it goes.
        const uint8_t steer = file.empty() ? 0 : file.back();
        for (int64_t k = 0; k < std::min(length, kMaxSteps); ++k) {
            require(detail::expected(device->step(false)), "step answered an unexpected error");
            if (k % 7 == steer % 7) require(detail::expected(device->step(true)), "step back");
            if (k % 5 == 0) require(detail::expected_draw(device->update(surface)), "update");
            require(device->position() >= 0 && device->position() < length, "position outside");
        }
        require(detail::expected(device->seek(length)), "seek to the end");
        require(detail::expected(device->seek(steer % length)), "seek inside");
        require(detail::expected_draw(device->update(surface)), "update after seek");
        require(device->seek(length + 1) == MediaError::OutOfRange, "seek past the end accepted");

        // Playback on a clock of our own, moved on by a few frames' time: what the window's
        // timer would reach, without waiting for it.
        int64_t now_ns = 0;
        device->set_clock([&now_ns] { return now_ns; });
        VideoClip& clip = device->clip();
        const int64_t from = device->position();
        const int64_t to = std::min(from + kMaxPlayed, length - 1);
        const int64_t from_ns = clip.time_ns(from), to_ns = clip.time_ns(to);
        require(from_ns >= 0 && to_ns >= from_ns, "times out of order");
        require(device->play() == MediaError::None, "play refused");
        now_ns = to_ns - from_ns;
        const int64_t reached = device->position();
        require(reached >= from && reached <= std::min(clip.frame_at_ns(to_ns), length - 1),
                "playback went past the clock");
        device->halt();
        require(detail::expected_draw(device->update(surface)), "update after playback");
    }
    require(MemoryBudget::process().used() == 0, "a closed clip kept budget");
    return 0;
}

}  // namespace tambrel::fuzzing

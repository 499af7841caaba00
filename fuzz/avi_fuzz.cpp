// Opening and stepping through mutated AVI files. Each input is the whole file. An open
// that is accepted must give a sane clip (length, picture size within the limits), and
// stepping forward, back, seeking and drawing must end in 0 or an error number, never in
// a fault or a hang: every decode loop of the device is bounded.

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "core/surface.h"
#include "media/service/video_clip.h"
#include "media/service/video_device.h"

using namespace tambrel;
using namespace tambrel::media;

namespace {

// Frames visited per input: enough to pass a few groups of pictures.
constexpr int64_t kMaxSteps = 48;

void require(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "property broken: %s\n", what);
        std::abort();
    }
}

bool expected(MediaError e) {
    return e == MediaError::None || e == MediaError::DecodeFailed || e == MediaError::OutOfRange;
}

std::string scratch_path() {
    // Memory-backed when available: the file is rewritten for every input.
    const QString dir = QDir("/dev/shm").exists() ? "/dev/shm" : QDir::tempPath();
    return (dir + "/tambrel-fuzz-avi-" + QString::number(QCoreApplication::applicationPid()) +
            ".avi")
        .toStdString();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    // Surfaces carry a font, which needs a GUI application.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static auto app = std::make_unique<QGuiApplication>(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = scratch_path();
    {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        require(f != nullptr, "scratch file");
        if (size) std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    MediaError error = MediaError::None;
    auto device = VideoDevice::open(path, nullptr, error);
    if (!device) {
        require(error == MediaError::NotPlayable || error == MediaError::FileNotFound,
                "refused open without a refusal number");
        return 0;
    }
    const int64_t length = device->length();
    const QSize picture = device->clip().size();
    require(length >= 1, "open clip without frames");
    require(picture.width() > 0 && picture.height() > 0 && picture.width() <= kMaxFrameSide &&
                picture.height() <= kMaxFrameSide &&
                int64_t{picture.width()} * picture.height() <= kMaxFramePixels,
            "picture size beyond the limits");

    PictureSurface surface(40, 30);
    device->set_destination(QRect(0, 0, 40, 30));
    // The last bytes steer the walk so that mutations also vary where it goes.
    const uint8_t steer = size ? data[size - 1] : 0;
    for (int64_t k = 0; k < std::min(length, kMaxSteps); ++k) {
        require(expected(device->step(false)), "step answered an unexpected error");
        if (k % 7 == steer % 7) require(expected(device->step(true)), "step back");
        if (k % 5 == 0) require(expected(device->update(surface)), "update");
        require(device->position() >= 0 && device->position() < length, "position outside");
    }
    require(expected(device->seek(length)), "seek to the end");
    require(expected(device->seek(steer % length)), "seek inside");
    require(expected(device->update(surface)), "update after seek");
    require(device->seek(length + 1) == MediaError::OutOfRange, "seek past the end accepted");
    return 0;
}

// Random command lines through mci_send into the real media service. Each input is up to
// kMaxLines lines, one command each, sent in order to a fresh service. The marks @C, @W
// and @D in a line stand for a small real clip's path form, a window handle and a
// device-context handle, so that the fuzzer reaches open devices as well as refusals.
//
// Properties: every command answers 0 or a known error number; a failure beeps exactly
// once and leaves the error text in the reply; status answers are frame numbers within
// the clip; nothing faults or hangs.

#include <QApplication>
#include <QDir>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "clipgen.h"
#include "core/handles.h"
#include "core/picture_box.h"
#include "window/module1.h"
#include "media/service/command_service.h"
#include "media/service/media_errors.h"
#include "media/service/path_codec.h"
#include "support/fake_platform.h"

using namespace tambrel;

namespace {

constexpr int kMaxLines = 24;

void require(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "property broken: %s\n", what);
        std::abort();
    }
}

struct World {
    std::unique_ptr<QApplication> app;
    HandleTable handles;
    std::unique_ptr<PictureBox> picture;
    std::string clip_form;
    int64_t clip_frames = 12;

    World() {
        static int argc = 1;
        static char name[] = "fuzz_commands";
        static char* argv[] = {name, nullptr};
        qputenv("QT_QPA_PLATFORM", "offscreen");
        app = std::make_unique<QApplication>(argc, argv);
        picture = std::make_unique<PictureBox>(handles);
        picture->set_outer_size(68, 52);
        const QString dir = QDir::tempPath() + "/tambrel-fuzz-commands-" +
                            QString::number(QCoreApplication::applicationPid());
        QDir().mkpath(dir);
        clipgen::ClipOptions options;
        options.path = (dir + "/clip one.avi").toStdString();
        options.codec = clipgen::Codec::Mjpeg;
        options.width = 64;
        options.height = 48;
        options.frames = static_cast<int>(clip_frames);
        options.keyframe_interval = 4;
        if (const auto error = clipgen::write_clip(options)) {
            std::fprintf(stderr, "cannot write the clip: %s\n", error->c_str());
            std::abort();
        }
        clip_form = media::encode_command_path(options.path);
    }
};

World& world() {
    static World w;
    return w;
}

std::string expand(std::string_view line, const World& w) {
    std::string out;
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '@' && i + 1 < line.size()) {
            const char m = line[i + 1];
            if (m == 'C')
                out += w.clip_form;
            else if (m == 'W')
                out += std::to_string(w.picture->hwnd());
            else if (m == 'D')
                out += std::to_string(w.picture->hdc());
            else {
                out += line[i];
                continue;
            }
            ++i;
            continue;
        }
        out += line[i];
    }
    return out;
}

bool all_digits(const QString& s) {
    if (s.isEmpty()) return false;
    for (const QChar c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    world();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    World& w = world();
    testing::FakePlatform platform;
    media::CommandService service(w.handles);
    Module1 module(service, platform);

    std::string_view rest(reinterpret_cast<const char*>(data), size);
    for (int n = 0; n < kMaxLines && !rest.empty(); ++n) {
        const size_t end = rest.find('\n');
        const std::string_view line = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);

        const QString command = QString::fromUtf8(expand(line, w));
        QString reply = QStringLiteral("previous");
        const int beeps = platform.beeps;
        const int32_t rc = module.mci_send(command, reply);
        if (rc == 0) {
            require(platform.beeps == beeps, "success beeped");
            // Words are separated by blanks and tabs.
            const QString verb = command.simplified().section(' ', 0, 0).toLower();
            if (verb == "status") {
                require(all_digits(reply), "status answer is not a frame number");
                require(reply.toLongLong() <= w.clip_frames, "status answer beyond the clip");
            } else {
                require(reply.isEmpty(), "command without an answer answered");
            }
        } else {
            require(platform.beeps == beeps + 1, "failure did not beep exactly once");
            const auto text = media::error_text(rc);
            require(!text.empty(), "error number without a text");
            require(reply == QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())),
                    "reply is not the error text");
        }
        // Let playback timers of earlier commands run, as the window's event loop would.
        QCoreApplication::processEvents();
    }
    return 0;
}

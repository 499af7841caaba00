// tambrel-mci: a console for the media service. Each command (one per line of standard
// input, or each argument) is run and answered with one line: the return code, a tab,
// and the reply, or the error text after a failure. Blank lines are skipped.
// The exit status is 0 when every command succeeded, 1 otherwise, 2 for a bad option.
//
// A path in an open command is one word: typed as it is (Japanese and all), with
// blanks, '%' and control bytes written as %XX ("%20" for a blank). No video window is
// made (there is no parent window here).
//
// Standard error stays quiet unless --verbose: a client that reads only the answers
// must never block on a full error pipe.

#include <QCoreApplication>
#include <atomic>
#include <charconv>
#include <cstdio>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "core/handles.h"
#include "media/service/av_log.h"
#include "media/service/command_service.h"
#include "media/service/media_errors.h"
#include "media/service/memory_budget.h"

namespace {

namespace libav_log = tambrel::media::libav_log;

constexpr std::string_view kHelp = R"(Usage: tambrel-mci [--memory MIB] [--verbose] [COMMAND]...
A console for Tambrel's media service: the plain-text commands the window sends to
open a clip and step, seek and draw its frames, run without the window. It opens
every video file the window does (MP4, MOV, MKV, WebM, MTS/TS, MPG, WMV, AVI, ...).

Each COMMAND argument, or else each line of standard input, is one command (blank
lines are skipped), run in order against the same service, so a clip opened by one
command stays open for the next. Each is answered with one line on standard output:
the return code, a tab, and the reply, or the error text when the code is not 0.
No video window is made.

Commands: open PATH alias A; close A; put A destination [at X Y W H]; where A source;
status A length|position|frame rate|capture rate|time; play A [window]; pause A;
stop A; step A [reverse]; seek A to N; update A hdc HDC. A path is one word: a blank
in it is written %20, a '%' as %25.

Options (commands never start with '-'):
      --memory MIB  memory for decoded pictures, in mebibytes (default 512, or the
                    environment's TAMBREL_MEMORY_MB); a clip whose pictures do not fit
                    is refused (310), and at most 16 clips are open at once (311)
      --verbose     also show the service's and the decoding library's own messages
                    on standard error, at most 200 per command (without it standard
                    error stays quiet)
  -h, --help        show this help and exit
      --version     show the version and exit

Exit status: 0 when every command succeeded, 1 otherwise, 2 for a bad option.

Example, the sample clip's length in frames (run in /usr/share/tambrel/samples):
  tambrel-mci 'open pendulum.avi alias p' 'status p length'
)";
constexpr size_t kMessagesPerCommand = libav_log::kDefaultCap;
std::atomic<size_t> qt_messages{0};

void quiet(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtFatalMsg) std::fprintf(stderr, "tambrel-mci: %s\n", qPrintable(message));
}

void verbose(QtMsgType, const QMessageLogContext&, const QString& message) {
    const size_t n = ++qt_messages;
    if (n <= kMessagesPerCommand)
        std::fprintf(stderr, "%s\n", qPrintable(message));
    else if (n == kMessagesPerCommand + 1)
        std::fprintf(stderr, "(further messages of this command left out)\n");
}

bool run(tambrel::media::CommandService& service, const std::string& line) {
    if (line.find_first_not_of(" \t\r\n") == std::string::npos) return true;
    libav_log::new_batch();
    qt_messages = 0;
    // Let playback timers of earlier commands run before this one is answered.
    QCoreApplication::processEvents();
    std::string reply;
    const int32_t rc = service.execute(line, reply);
    if (rc != 0) reply = std::string(tambrel::media::error_text(rc));
    std::printf("%d\t%s\n", rc, reply.c_str());
    std::fflush(stdout);
    return rc == 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> commands;
    bool loud = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view a = argv[i];
        if (a == "--help" || a == "-h") {
            std::fputs(kHelp.data(), stdout);
            return 0;
        } else if (a == "--version") {
            std::printf("tambrel-mci %s\n", TAMBREL_VERSION);
            return 0;
        } else if (a == "--verbose") {
            loud = true;
        } else if (a == "--memory" || a.starts_with("--memory=")) {
            std::string_view v = a == "--memory" ? (i + 1 < argc ? argv[++i] : "") : a.substr(9);
            size_t mib = 0;
            const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), mib);
            if (ec != std::errc() || end != v.data() + v.size() || mib == 0 ||
                mib > (size_t{1} << 30)) {
                std::fprintf(stderr, "tambrel-mci: --memory takes a whole number of MiB\n");
                return 2;
            }
            tambrel::media::MemoryBudget::process().set_limit(mib << 20);
        } else {
            commands.emplace_back(a);
        }
    }
    qInstallMessageHandler(loud ? verbose : quiet);
    libav_log::install();
    if (loud) libav_log::route_to_stderr(kMessagesPerCommand);

    QCoreApplication app(argc, argv);
    tambrel::HandleTable handles;
    tambrel::media::CommandService service(handles);
    bool all_ok = true;
    if (!commands.empty()) {
        for (const std::string& c : commands) all_ok = run(service, c) && all_ok;
    } else {
        std::string line;
        while (std::getline(std::cin, line)) all_ok = run(service, line) && all_ok;
    }
    return all_ok ? 0 : 1;
}

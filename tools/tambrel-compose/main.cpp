// tambrel-compose: the stroboscopic composite of an AVI clip, without the window.
// See arguments.cpp for the command line, run.h for the plan it makes and
// compose/engine/clip_composer.h for the run.

#include <unistd.h>

#include <QCoreApplication>
#include <QGuiApplication>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "arguments.h"
#include "media/service/memory_budget.h"
#include "media/service/av_log.h"
#include "output.h"
#include "progress.h"
#include "run.h"

using namespace tambrel;
using namespace tambrel::compose_cli;

namespace {

// Frames that cannot be decoded are named one line each up to this many; the rest are
// only counted, so a clip damaged throughout cannot flood the terminal.
constexpr int64_t kMostSkipWarnings = 50;

int fail(int status, const std::string& message) {
    std::fprintf(stderr, "tambrel-compose: %s\n", message.c_str());
    return status;
}

// The service and Qt report details as warnings; a failure here is told in one line of
// its own, so they are kept off standard error unless --verbose asks for them.
void quiet_messages(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtFatalMsg) std::fprintf(stderr, "tambrel-compose: %s\n", qPrintable(message));
}
void verbose_messages(QtMsgType, const QMessageLogContext&, const QString& message) {
    std::fprintf(stderr, "tambrel-compose: %s\n", qPrintable(message));
}

std::string seconds_text(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", seconds);
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    // Past a file size limit, a write should fail with an error to report, not end the
    // program with a signal and a half-written temporary file.
    std::signal(SIGXFSZ, SIG_IGN);

    const std::vector<std::string_view> args(argv + 1, argv + argc);
    const ParsedArguments parsed = parse_arguments(args);
    if (std::holds_alternative<HelpRequest>(parsed)) {
        std::fputs(help_text(language_from_environment()).data(), stdout);
        return kExitOk;
    }
    if (const auto* usage = std::get_if<UsageError>(&parsed))
        return fail(kExitUsage, usage->message);
    const ComposeOptions& options = std::get<ComposeOptions>(parsed);
    const auto began = std::chrono::steady_clock::now();

    qInstallMessageHandler(options.verbose ? verbose_messages : quiet_messages);
    if (options.memory_mib)
        media::MemoryBudget::process().set_limit(static_cast<size_t>(*options.memory_mib) << 20);
    // Qt reads only the program's name: every argument has been read above.
    int qt_argc = 1;
    char* qt_argv[] = {argv[0], nullptr};
    std::unique_ptr<QCoreApplication> app;
    if (options.as_shown) {
        // The scale's numbers need fonts, hence a GUI application; nothing is shown.
        qputenv("QT_QPA_PLATFORM", "offscreen");
        app = std::make_unique<QGuiApplication>(qt_argc, qt_argv);
    } else {
        app = std::make_unique<QCoreApplication>(qt_argc, qt_argv);
    }

    const auto format = output_format(options.output);
    if (const auto* e = std::get_if<FormatError>(&format)) return fail(kExitUsage, e->message);
    if (same_file(options.output, options.clip))
        return fail(kExitUsage, "the output '" + options.output + "' is the clip itself");
    if (const std::string problem = output_problem(options.output); !problem.empty())
        return fail(kExitOutput, problem);

    const bool terminal = isatty(STDERR_FILENO) == 1;
    if (options.verbose) {
        // From decoding threads too: each line is one write, after taking the progress
        // bar's line away; the bar comes back at its next update.
        media::libav_log::route_to([terminal](media::libav_log::Level, std::string_view line) {
            std::fprintf(stderr, "%s%.*s\n", terminal ? "\r\033[K" : "",
                         static_cast<int>(line.size()), line.data());
        });
    }

    TerminalProgress progress;
    int64_t warned = 0;
    compose::Callbacks callbacks;
    callbacks.progress = [&progress](const compose::Progress& p) {
        progress.update(p.done, p.total);
        return true;
    };
    callbacks.skipped = [&progress, &warned](const compose::SkippedFrame& s) {
        if (++warned > kMostSkipWarnings) return;
        progress.finish();
        std::fprintf(stderr, "tambrel-compose: warning: frame %lld cannot be decoded, %s: %s\n",
                     static_cast<long long>(s.frame),
                     s.background ? "the background is made without it" : "skipped",
                     s.reason.c_str());
    };
    const auto result = compose_cli::compose(options, callbacks);
    progress.finish();
    if (const auto* failure = std::get_if<RunFailure>(&result))
        return fail(failure->status, failure->message);
    const compose::Composite& composite = std::get<compose::Composite>(result);
    if (warned > kMostSkipWarnings)
        std::fprintf(stderr,
                     "tambrel-compose: warning: %lld frames cannot be decoded; the first %lld "
                     "are named above\n",
                     static_cast<long long>(warned), static_cast<long long>(kMostSkipWarnings));

    if (const std::string e =
            write_image(composite.image, options.output, std::get<QByteArray>(format));
        !e.empty())
        return fail(kExitOutput, e);

    if (terminal) {
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
        const auto skipped = static_cast<int64_t>(composite.skipped.size());
        const double rate =
            static_cast<double>(composite.merged + skipped) / std::max(seconds, 1e-3);
        std::fprintf(stderr,
                     "tambrel-compose: %lld frames merged, %lld skipped, %s, %.1f frames/s\n",
                     static_cast<long long>(composite.merged), static_cast<long long>(skipped),
                     seconds_text(seconds).c_str(), rate);
    }
    return kExitOk;
}

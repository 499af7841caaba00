// tambrel-compose: the stroboscopic composite of an AVI clip, without the window, and
// the moving object's positions in it. See arguments.cpp for the command line, run.h
// for the plan it makes, compose/engine/clip_composer.h for the run and track.h for
// the positions.

#include <unistd.h>

#include <QCoreApplication>
#include <QGuiApplication>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "arguments.h"
#include "media/service/av_log.h"
#include "media/service/memory_budget.h"
#include "output.h"
#include "progress.h"
#include "run.h"
#include "track.h"

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

    const bool composing = !options.output.empty(), tracking = !options.track.empty();
    QByteArray format;
    if (composing) {
        const auto known = output_format(options.output);
        if (const auto* e = std::get_if<FormatError>(&known)) return fail(kExitUsage, e->message);
        format = std::get<QByteArray>(known);
        if (same_file(options.output, options.clip))
            return fail(kExitUsage, "the output '" + options.output + "' is the clip itself");
        if (const std::string problem = output_problem(options.output); !problem.empty())
            return fail(kExitOutput, problem);
    }
    if (tracking) {
        if (same_file(options.track, options.clip))
            return fail(kExitUsage,
                        "the positions' file '" + options.track + "' is the clip itself");
        if (composing && same_file(options.track, options.output))
            return fail(kExitUsage, "--track and -o name the same file '" + options.track + "'");
        if (const std::string problem = output_problem(options.track); !problem.empty())
            return fail(kExitOutput, problem);
    }

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
    // A frame that cannot be decoded is named once, though both runs meet it.
    std::set<std::pair<int64_t, bool>> warned;
    const auto warn = [&progress, &warned](int64_t frame, bool background, const char* what,
                                           const std::string& reason) {
        if (!warned.insert({frame, background}).second || std::ssize(warned) > kMostSkipWarnings)
            return;
        progress.finish();
        std::fprintf(stderr, "tambrel-compose: warning: frame %lld cannot be decoded, %s: %s\n",
                     static_cast<long long>(frame),
                     background ? "the background is made without it" : what, reason.c_str());
    };

    // Both runs first, then the files: a run that fails writes nothing.
    std::optional<compose::Composite> composite;
    if (composing) {
        compose::Callbacks callbacks;
        callbacks.progress = [&progress](const compose::Progress& p) {
            progress.update(p.done, p.total);
            return true;
        };
        callbacks.skipped = [&warn, tracking](const compose::SkippedFrame& s) {
            warn(s.frame, s.background, tracking ? "skipped and not found" : "skipped", s.reason);
        };
        auto result = compose_cli::compose(options, callbacks);
        progress.finish();
        if (const auto* failure = std::get_if<RunFailure>(&result))
            return fail(failure->status, failure->message);
        composite = std::get<compose::Composite>(std::move(result));
    }
    std::optional<tracking::TrackResult> tracked;
    if (tracking) {
        tracking::TrackCallbacks callbacks;
        callbacks.progress = [&progress](int64_t done, int64_t total) {
            progress.update(done, total);
            return true;
        };
        callbacks.skipped = [&warn](int64_t frame, bool background, const std::string& reason) {
            warn(frame, background, "not found", reason);
        };
        auto result = compose_cli::track(options, callbacks);
        progress.finish();
        if (const auto* failure = std::get_if<RunFailure>(&result))
            return fail(failure->status, failure->message);
        tracked = std::get<tracking::TrackResult>(std::move(result));
    }
    if (std::ssize(warned) > kMostSkipWarnings)
        std::fprintf(stderr,
                     "tambrel-compose: warning: %lld frames cannot be decoded; the first %lld "
                     "are named above\n",
                     static_cast<long long>(warned.size()),
                     static_cast<long long>(kMostSkipWarnings));

    if (tracked) {
        const std::string csv = track_csv(*tracked, options.scale);
        if (const std::string e =
                write_file(QByteArray(csv.data(), qsizetype(csv.size())), options.track);
            !e.empty())
            return fail(kExitOutput, e);
    }
    if (composite) {
        if (const std::string e = write_image(composite->image, options.output, format); !e.empty())
            return fail(kExitOutput, e);
    }
    if (tracked && options.fit) {
        const FitReport report = fit_report(*tracked, *options.fit, options.scale);
        std::fputs(report.text.c_str(), stdout);
        std::fflush(stdout);
        if (!report.warning.empty())
            std::fprintf(stderr, "tambrel-compose: warning: %s\n", report.warning.c_str());
    }

    if (terminal) {
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
        if (composite) {
            const auto skipped = static_cast<int64_t>(composite->skipped.size());
            const double rate =
                static_cast<double>(composite->merged + skipped) / std::max(seconds, 1e-3);
            std::fprintf(stderr,
                         "tambrel-compose: %lld frames merged, %lld skipped, %s, %.1f frames/s\n",
                         static_cast<long long>(composite->merged), static_cast<long long>(skipped),
                         seconds_text(seconds).c_str(), rate);
        }
        if (tracked) {
            const auto found =
                std::count_if(tracked->frames.begin(), tracked->frames.end(),
                              [](const tracking::TrackedFrame& f) { return f.object.has_value(); });
            const auto frames = std::ssize(tracked->frames);
            std::fprintf(stderr, "tambrel-compose: the object found in %lld of %lld frames",
                         static_cast<long long>(found), static_cast<long long>(frames));
            if (!composite)
                std::fprintf(stderr, ", %s, %.1f frames/s", seconds_text(seconds).c_str(),
                             static_cast<double>(frames) / std::max(seconds, 1e-3));
            std::fputs("\n", stderr);
        }
    }
    return kExitOk;
}

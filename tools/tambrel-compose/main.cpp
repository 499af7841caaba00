// tambrel-compose: the stroboscopic composite of an AVI clip, without the window.
// See arguments.cpp for the command line and composer.h for the run.

#include <QCoreApplication>
#include <QGuiApplication>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "arguments.h"
#include "composer.h"
#include "output.h"
#include "progress.h"

using namespace tambrel;
using namespace tambrel::compose_cli;

namespace {

int fail(int status, const std::string& message) {
    std::fprintf(stderr, "tambrel-compose: %s\n", message.c_str());
    return status;
}

// The service and Qt report details as warnings; a failure here is told in one line of
// its own, so they are kept off standard error. Fatal messages still get through.
void quiet_messages(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtFatalMsg || type == QtCriticalMsg)
        std::fprintf(stderr, "tambrel-compose: %s\n", qPrintable(message));
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    const ParsedArguments parsed = parse_arguments(args);
    if (std::holds_alternative<HelpRequest>(parsed)) {
        std::fputs(help_text().data(), stdout);
        return kExitOk;
    }
    if (const auto* usage = std::get_if<UsageError>(&parsed))
        return fail(kExitUsage, usage->message);
    const ComposeOptions& options = std::get<ComposeOptions>(parsed);

    qInstallMessageHandler(quiet_messages);
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

    TerminalProgress progress;
    const auto result = compose(
        options, [&progress](int64_t done, int64_t total) { progress.update(done, total); });
    progress.finish();
    if (const auto* failure = std::get_if<ComposeFailure>(&result)) {
        const int status =
            failure->kind == ComposeFailure::Kind::StartPastEnd ? kExitUsage : kExitClip;
        return fail(status, failure->message);
    }
    if (const std::string e = write_image(std::get<Composite>(result).image, options.output,
                                          std::get<QByteArray>(format));
        !e.empty())
        return fail(kExitOutput, e);
    return kExitOk;
}

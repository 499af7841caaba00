#include <QApplication>
#include <QLocale>
#include <QTimer>
#include <cstdio>
#include <string_view>
#include <vector>

#include "app/app_log.h"
#include "window/clip_sources.h"
#include "app/command_line.h"
#include "window/form1.h"
#include "app/translations.h"
#include "core/handles.h"
#include "core/platform.h"
#include "media/service/command_service.h"

namespace {
std::vector<std::string_view> arguments(int argc, char** argv) {
    return std::vector<std::string_view>(argv + 1, argv + argc);
}
}  // namespace

int main(int argc, char** argv) {
    using tambrel::CommandLine;
    // Help and version are answered before Qt starts: they need no display.
    const CommandLine asked = CommandLine::parse(arguments(argc, argv));
    if (asked.request() == CommandLine::Request::Help) {
        std::fputs(CommandLine::help_text().data(), stdout);
        return 0;
    }
    if (asked.request() == CommandLine::Request::Version) {
        std::fputs(CommandLine::version_text(TAMBREL_VERSION).c_str(), stdout);
        return 0;
    }

    QApplication app(argc, argv);  // takes Qt's own options out of argv
    const CommandLine command_line = CommandLine::parse(arguments(argc, argv));
    if (command_line.request() == CommandLine::Request::Usage) {
        std::fprintf(stderr, "tambrel: %s\nTry 'tambrel --help' for more information.\n",
                     command_line.error().c_str());
        return 2;
    }
    QApplication::setApplicationName(QStringLiteral("Tambrel"));
    QApplication::setQuitOnLastWindowClosed(false);  // the exits end the program
    tambrel::app_log::install();
    tambrel::install_qt_translations(app, QLocale::system());

    tambrel::HandleTable handles;
    tambrel::QtPlatform platform;
    tambrel::media::CommandService service(handles);
    int status = 0;
    {
        tambrel::Form1 form(platform, service, handles);
        form.start();
        // `tambrel FILE` opens FILE as the open item would, once the window is up (a
        // file: URL from a file manager as its local file, a relative path as absolute).
        if (const auto& file = command_line.file())
            if (const auto clip = tambrel::clip_path_from_arguments(
                    {QCoreApplication::applicationFilePath(), QStringLiteral("--"),
                     QString::fromStdString(*file)}))
                QTimer::singleShot(0, &form, [&form, path = *clip] { form.open_clip(path); });
        status = app.exec();
    }
    return status;
}

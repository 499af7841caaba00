#include <QApplication>
#include <QTimer>

#include "app/app_log.h"
#include "app/clip_sources.h"
#include "app/form1.h"
#include "core/handles.h"
#include "core/platform.h"
#include "media/service/command_service.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tambrel"));
    QApplication::setQuitOnLastWindowClosed(false);  // the exits end the program
    tambrel::app_log::install();

    tambrel::HandleTable handles;
    tambrel::QtPlatform platform;
    tambrel::media::CommandService service(handles);
    int status = 0;
    {
        tambrel::Form1 form(platform, service, handles);
        form.start();
        // `tambrel FILE` opens FILE as the open item would, once the window is up.
        if (const auto clip = tambrel::clip_path_from_arguments(QCoreApplication::arguments()))
            QTimer::singleShot(0, &form, [&form, path = *clip] { form.open_clip(path); });
        status = app.exec();
    }
    return status;
}

#include <QApplication>
#include <QLocale>

#include "app/form1.h"
#include "app/translations.h"
#include "core/handles.h"
#include "core/platform.h"
#include "media/service/command_service.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tambrel"));
    QApplication::setQuitOnLastWindowClosed(false);  // the exits end the program
    tambrel::install_qt_translations(app, QLocale::system());

    tambrel::HandleTable handles;
    tambrel::QtPlatform platform;
    tambrel::media::CommandService service(handles);
    int status = 0;
    {
        tambrel::Form1 form(platform, service, handles);
        form.start();
        status = app.exec();
    }
    return status;
}

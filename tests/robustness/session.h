#pragma once
// The real media service behind mci_send, with the fake platform counting beeps; and
// the window on the real service. Both as the program builds them.

#include <QFile>
#include <QString>
#include <memory>

#include "window/form1.h"
#include "core/handles.h"
#include "window/module1.h"
#include "media/service/command_service.h"
#include "media/service/media_errors.h"
#include "media/service/path_codec.h"
#include "support/fake_platform.h"

namespace tambrel::robustness {

struct Answer {
    int32_t rc = 0;
    QString reply;
    int beeps = 0;  // beeps sounded by this one command
};

inline QString error_text_of(media::MediaError e) {
    const auto t = media::error_text(media::code(e));
    return QString::fromUtf8(t.data(), static_cast<qsizetype>(t.size()));
}

struct Session {
    HandleTable handles;
    testing::FakePlatform platform;
    media::CommandService service{handles};
    Module1 module{service, platform};

    Answer send(const QString& command) {
        const int before = platform.beeps;
        Answer a;
        a.rc = module.mci_send(command, a.reply);
        a.beeps = platform.beeps - before;
        return a;
    }
    Answer open(const QString& path, const QString& alias = QStringLiteral("avfile")) {
        // The path form straight from the name (short_path gives nothing for a missing
        // file, and the service's own refusal is what is tested here).
        const std::string form = media::encode_command_path(QFile::encodeName(path).toStdString());
        return send(QStringLiteral("open ") + QString::fromStdString(form) +
                    QStringLiteral(" alias ") + alias);
    }
};

struct Window {
    HandleTable handles;
    testing::FakePlatform platform;
    media::CommandService service{handles};
    std::unique_ptr<Form1> form;

    Window() {
        form = std::make_unique<Form1>(platform, service, handles);
        form->start();
    }
    void open(const QString& path) {
        platform.dialog_answers.push_back(path);
        form->mnuopen_Click();
    }
};

}  // namespace tambrel::robustness

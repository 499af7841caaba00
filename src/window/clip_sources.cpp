#include "window/clip_sources.h"

#include <QDir>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QTimer>
#include <QUrl>
#include <QWidget>

namespace tambrel {

std::optional<QString> dropped_clip_path(const QMimeData& data) {
    if (!data.hasUrls()) return std::nullopt;
    const QList<QUrl> urls = data.urls();
    if (urls.size() != 1 || !urls.front().isLocalFile()) return std::nullopt;
    const QString path = urls.front().toLocalFile();
    // A folder is no clip: refusing it here shows the drag as not droppable.
    if (path.isEmpty() || QFileInfo(path).isDir()) return std::nullopt;
    return QDir::cleanPath(path);
}

std::optional<QString> clip_path_from_arguments(const QStringList& arguments) {
    bool options_ended = false;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (!options_ended && argument == QLatin1String("--")) {
            options_ended = true;
            continue;
        }
        if (!options_ended && argument.startsWith(QLatin1Char('-'))) continue;
        if (argument.isEmpty()) continue;
        const QString path =
            argument.startsWith(QLatin1String("file:")) ? QUrl(argument).toLocalFile() : argument;
        if (path.isEmpty()) continue;
        return QFileInfo(path).absoluteFilePath();
    }
    return std::nullopt;
}

ClipDropTarget::ClipDropTarget(QWidget* window, std::function<void(const QString&)> open)
    : QObject(window), open_(std::move(open)) {
    window->setAcceptDrops(true);
    window->installEventFilter(this);
    // A drop goes to the innermost control under the pointer that accepts drops; the
    // window's controls exist by now, and a control added later (the video window)
    // does not accept drops, so its drops reach the window.
    for (QWidget* child : window->findChildren<QWidget*>())
        if (child->acceptDrops()) child->installEventFilter(this);
}

bool ClipDropTarget::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::DragEnter:
        case QEvent::DragMove:
        case QEvent::Drop: {
            // Files are this filter's to judge: one opens, anything else (several files,
            // a folder, a remote address) is not droppable here, not even as text into a
            // text box. Drags without files pass on.
            auto* drag = static_cast<QDropEvent*>(event);
            if (!drag->mimeData() || !drag->mimeData()->hasUrls()) break;
            const std::optional<QString> path = dropped_clip_path(*drag->mimeData());
            if (!path) {
                drag->ignore();
                return true;
            }
            drag->acceptProposedAction();
            if (event->type() == QEvent::Drop)
                QTimer::singleShot(0, this, [this, p = *path] { open_(p); });
            return true;
        }
        default:
            break;
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace tambrel

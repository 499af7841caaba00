#pragma once
// Ways a clip reaches the window besides the open item's dialog: a file dropped on the
// window, and a file named on the command line (a file manager's "open with"). Both end
// in the open item's own steps with the path given instead of asked.

#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

class QMimeData;
class QWidget;

namespace tambrel {

// The local file a drag carries, when it carries exactly one (the window holds one clip
// at a time, so several files are not taken).
std::optional<QString> dropped_clip_path(const QMimeData& data);

// The clip named by the program's arguments (program name first): the first argument
// that is not an option ("--" ends the options), a file: URL read as its local file,
// a relative path made absolute against the current directory.
std::optional<QString> clip_path_from_arguments(const QStringList& arguments);

// Takes file drops anywhere on `window`: on the window itself and on the child controls
// that would otherwise take the drop for themselves (a text box would insert the path
// as text). Other drags (text into a text box) pass through untouched. The open runs
// once the drop has finished, so the program that the file came from is not held while
// a message box waits.
class ClipDropTarget : public QObject {
  public:
    ClipDropTarget(QWidget* window, std::function<void(const QString&)> open);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    std::function<void(const QString&)> open_;
};

}  // namespace tambrel

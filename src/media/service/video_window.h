#pragma once
// The device's video window: a child of the window given at open, placed at the
// destination rectangle and showing the current picture at that size.

#include <QImage>
#include <QWidget>

namespace tambrel::media {

class VideoWindow : public QWidget {
  public:
    explicit VideoWindow(QWidget* parent);
    // The picture shown, resized (and cleared) to `size` when it differs.
    QImage& canvas(QSize size);
    const QImage& picture() const { return picture_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QImage picture_;
};

}  // namespace tambrel::media

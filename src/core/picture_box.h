#pragma once
// A picture box: a 2-pixel sunken border around an inner client area that shows a
// PictureSurface and reports the pointer in inner pixels. Child windows (the media
// device's video window) are children of client(), so their coordinates are inner ones.

#include <QWidget>
#include <memory>

#include "core/handles.h"
#include "core/surface.h"

namespace tambrel {

class PictureBox : public QWidget {
    Q_OBJECT
public:
    PictureBox(HandleTable& handles, QWidget* parent = nullptr);
    ~PictureBox() override;

    PictureSurface& surface() { return surface_; }
    const PictureSurface& surface() const { return surface_; }
    QWidget* client() const;

    // Outer size in pixels; the inner size is 4 less each way.
    void set_outer_size(int width, int height);
    int outer_width() const { return width(); }
    int outer_height() const { return height(); }
    int inner_width() const { return surface_.width(); }
    int inner_height() const { return surface_.height(); }

    int32_t hwnd() const { return hwnd_; }
    int32_t hdc() const { return hdc_; }

protected:
    void paintEvent(QPaintEvent* event) override;

signals:
    void mouseDown(Qt::MouseButtons button, Qt::KeyboardModifiers shift, float x, float y);
    void mouseMove(Qt::MouseButtons button, Qt::KeyboardModifiers shift, float x, float y);
    void mouseUp(Qt::MouseButtons button, Qt::KeyboardModifiers shift, float x, float y);

private:
    class Client;
    HandleTable& handles_;
    PictureSurface surface_;
    Client* client_;
    int32_t hwnd_;
    int32_t hdc_;
};

}  // namespace tambrel

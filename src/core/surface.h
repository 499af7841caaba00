#pragma once
// A picture's drawing surface: persistent image, auto-redraw switch, drawing state and
// the drawing operations the window code uses. It knows nothing of widgets; a
// PictureBox shows it and is told to repaint through the change callback.
//
// Model:
//  - image_ is the persistent image (the inner area, white at start).
//  - With auto-redraw on, drawing goes into image_ and any display-only drawing is
//    dropped (the picture repaints from its persistent image).
//  - With auto-redraw off, drawing goes to screen_, a display copy made from image_ on
//    first use; it is lost when cleared or when the persistent image is repainted.
//  - Clearing with auto-redraw on resets image_ to the background; with it off it only
//    drops screen_. Both reset the text position.

#include <QFont>
#include <QImage>
#include <cstdint>
#include <functional>
#include <optional>

#include "core/colors.h"

namespace tambrel {

enum class DrawMode : int { Copy = 13, Xor = 7 };

class PictureSurface {
public:
    PictureSurface(int inner_width, int inner_height, Color background = kWhite);

    // Inner (drawable) size in pixels; resizing keeps the top-left content.
    int width() const { return image_.width(); }
    int height() const { return image_.height(); }
    void resize(int inner_width, int inner_height);

    bool auto_redraw() const { return auto_redraw_; }
    void set_auto_redraw(bool on);

    Color background() const { return background_; }

    // Drawing state.
    Color fore_color = kBlack;
    DrawMode draw_mode = DrawMode::Copy;
    int draw_width = 1;
    int fill_style = 1;  // 1 transparent: boxes and circles are outlines
    float current_x = 0, current_y = 0;
    QFont font;

    void clear();
    // Line from (x1, y1) to (x2, y2); `box` draws the rectangle outline instead.
    void line(float x1, float y1, float x2, float y2, std::optional<Color> color = {},
              bool box = false);
    void circle(float cx, float cy, float radius, std::optional<Color> color = {});
    // Prints text with its top-left corner at the text position, which then moves to
    // the start of the next line.
    void print(const QString& text);
    // One pixel of the current target; reading outside gives nullopt, writing outside
    // does nothing.
    std::optional<Color> point(int x, int y) const;
    void pset(int x, int y, Color color);

    // The image that drawing, pixel access and frame rendering currently go to:
    // the persistent image with auto-redraw on, the display copy with it off.
    QImage& target();
    const QImage& target() const;
    // Call after writing into target() directly (frame rendering, merging).
    void target_changed();

    // What the picture shows now: the display copy when there is one, else the image.
    const QImage& displayed() const { return screen_ ? *screen_ : image_; }
    // The persistent image as a bitmap (what goes to the clipboard).
    const QImage& image() const { return image_; }
    // Background picture: the persistent image becomes the background colour with the
    // picture (if any) drawn at the origin; display-only drawing is dropped.
    void set_picture(const QImage* picture);
    bool has_display_layer() const { return screen_.has_value(); }

    // Called whenever what the picture shows may have changed.
    std::function<void()> on_change;

private:
    void changed();
    template <typename Paint>
    void paint(Paint&& fn);

    QImage image_;
    std::optional<QImage> screen_;
    Color background_;
    bool auto_redraw_ = true;
};

}  // namespace tambrel

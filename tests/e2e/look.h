#pragma once
// Reading the window from screenshots: where each control stands (the window's own
// twips geometry), what a control with a given text looks like (the same widget class
// and font rendered here, off screen), the measuring scale, and bright blobs.

#include <QImage>
#include <QPoint>
#include <QRect>
#include <QString>
#include <memory>
#include <vector>

class QLabel;
class QLineEdit;
class QScrollBar;
class QWidget;

namespace tambrel::e2e {

// A control's rectangle in client pixels from its twips (15 twips to the pixel).
QRect twips_rect(int left, int top, int width, int height);

struct PictureGeometry {
    // Inner areas in client pixels, as start-up sizes the pictures.
    static constexpr int kPicture1Width = 320, kPicture1Height = 240;
    static QRect picture1_inner();
    static QRect picture3_inner();
    // The part of a frame the composition merges: (inner - 4 + 1) each way.
    static QRect merged_region();
};

// Pixels whose colours differ by more than `tolerance` in some channel; images of
// different sizes differ everywhere.
int differing_pixels(const QImage& a, const QImage& b, int tolerance = 48);

class Replicas {
  public:
    Replicas();
    ~Replicas();

    // How the text boxes Text1..Text5 look with `text` (not focused).
    QImage text_box(const QString& text);
    // How Label2 looks with the caption of the position read-out for `frame`.
    QImage frame_readout(int frame);
    // How Label1 looks showing `path`.
    QImage path_label(const QString& path);
    // The height of the window's menu bar (its menus' titles in the window's font): the
    // client area starts below it.
    int menu_bar_height();

    // The scroll bar HScroll1 with range 0..maximum at `value`: where its thumb and its
    // right arrow are, and the value the bar takes when the thumb, grabbed at
    // `grab_x`, is released at `release_x` (all in the bar's own pixels).
    QRect scroll_thumb(int maximum, int value);
    QRect scroll_right_arrow(int maximum, int value);
    int scroll_value_after_drag(int maximum, int value, int grab_x, int release_x);
    // Pixels of the groove per value step (at least 1): the accuracy of a drag.
    double values_per_pixel(int maximum, int value);

  private:
    std::unique_ptr<QWidget> stage_;
    QLineEdit* text_box_;
    QLabel* label2_;
    QLabel* label1_;
    QScrollBar* bar_;
};

// What is missing from the measuring scale drawn over the composite's inner area
// (an empty list when frame, ticks and number places are all there).
QStringList scale_problems(const QImage& picture3_inner);

struct Blob {
    QRect bounds;
    int area = 0;
};
// 4-connected regions of pixels whose channel mean exceeds `level`, inside `region`,
// keeping those of at least `min_area` pixels.
std::vector<Blob> bright_blobs(const QImage& image, QRect region, int level, int min_area);

// Mean of the three channels over the (2r+1)² square at `centre`.
double mean_level(const QImage& image, QPoint centre, int r = 2);

}  // namespace tambrel::e2e

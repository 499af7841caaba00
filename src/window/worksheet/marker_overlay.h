#pragma once
// Drawing over the composite on the display only: the markers of recorded points and
// the line being dragged for a calibration. It lies over Picture3's inner area, lets
// every mouse event through to it, and never touches the picture's image, so the
// composite on the clipboard and in files stays as it is.

#include <QPointF>
#include <QWidget>
#include <optional>
#include <vector>

namespace tambrel {

class MarkerOverlay : public QWidget {
    Q_OBJECT
public:
    explicit MarkerOverlay(QWidget* picture_client);

    void set_markers(std::vector<QPointF> points);
    void set_band(std::optional<QPointF> from, std::optional<QPointF> to);
    // The marker of the row chosen in the table, ringed.
    void set_highlight(std::optional<QPointF> at);
    const std::vector<QPointF>& markers() const { return markers_; }
    std::optional<QPointF> highlight() const { return highlight_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::vector<QPointF> markers_;
    std::optional<QPointF> band_from_, band_to_;
    std::optional<QPointF> highlight_;
};

}  // namespace tambrel

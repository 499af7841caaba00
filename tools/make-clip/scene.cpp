// What a clip shows: the frame-number band, the bob and its motion, the pendulum physics,
// and reading the band back from decoded pixels.

#include "scene.h"

#include <QPainter>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <numbers>

#include "clipgen.h"

namespace tambrel::clipgen {

namespace {

// Band layout: two rows of band_columns cells across the full width. Column 0 is white in
// both rows (start marker), the last column white above and black below (stop marker, so a
// mirrored picture does not read); the 18 cells between carry 16 bits of frame number and
// two check bits. Positions are fractions of the picture so that the reader
// can find them again after scaling.
constexpr int band_columns = 11;
constexpr int data_columns = band_columns - 2;
constexpr int data_bits = 16;
constexpr int code_cells = 2 * data_columns;  // 16 data bits + 2 check bits

int band_row_height(int height) {
    return std::max(8, static_cast<int>(std::lround(height / 20.0)));
}

// Check bits chosen so that an all-black and an all-white band are both invalid.
std::array<bool, code_cells> encode_cells(int number) {
    std::array<bool, code_cells> cells{};
    bool even = false, odd = false;
    for (int bit = 0; bit < data_bits; ++bit) {
        const bool on = ((number >> bit) & 1) != 0;
        cells[bit] = on;
        (bit % 2 == 0 ? even : odd) ^= on;
    }
    cells[data_bits] = even;
    cells[data_bits + 1] = !odd;
    return cells;
}

int decode_cells(const std::array<bool, code_cells>& cells) {
    int number = 0;
    bool even = false, odd = false;
    for (int bit = 0; bit < data_bits; ++bit) {
        if (cells[bit]) number |= 1 << bit;
        (bit % 2 == 0 ? even : odd) ^= cells[bit];
    }
    if (cells[data_bits] != even || cells[data_bits + 1] != !odd) return -1;
    return number;
}

int column_edge(int column, int width) {
    return static_cast<int>(std::lround(static_cast<double>(column) * width / band_columns));
}

constexpr int start_marker = -1, stop_marker = -2;

// Cell (row, column) → index into the code, or one of the markers.
int cell_index(int row, int column) {
    if (column == 0) return start_marker;
    if (column == band_columns - 1) return stop_marker;
    return row * data_columns + (column - 1);
}

bool marker_is_white(int marker, int row) { return marker == start_marker || row == 0; }

// Mean grey level in [x0, x1) × [y0, y1) of a Grayscale8 image; clamps to the picture.
double mean_grey(const QImage& grey, double x0, double y0, double x1, double y1) {
    const int ix0 = std::clamp(static_cast<int>(std::floor(x0)), 0, grey.width() - 1);
    const int iy0 = std::clamp(static_cast<int>(std::floor(y0)), 0, grey.height() - 1);
    const int ix1 = std::clamp(static_cast<int>(std::ceil(x1)), ix0 + 1, grey.width());
    const int iy1 = std::clamp(static_cast<int>(std::ceil(y1)), iy0 + 1, grey.height());
    long sum = 0;
    for (int y = iy0; y < iy1; ++y) {
        const uchar* line = grey.constScanLine(y);
        for (int x = ix0; x < ix1; ++x) sum += line[x];
    }
    return static_cast<double>(sum) / ((ix1 - ix0) * (iy1 - iy0));
}

constexpr double bright_level = 128.0;

}  // namespace

SceneLayout scene_layout(const ClipOptions& options) {
    const QSize size = display_size(options);
    return scene_layout(size.width(), size.height());
}

SceneLayout scene_layout(int width, int height) {
    SceneLayout layout;
    layout.row_height = band_row_height(height);
    layout.band_height = 2 * layout.row_height;
    // A dark gap below the band keeps the reader's marker scan from running into the bob.
    layout.motion_top = layout.band_height + layout.row_height;
    layout.bob_radius = std::max(3.0, height / 16.0);
    layout.width = width;
    layout.height = height;
    return layout;
}

void draw_frame_number(QImage& image, int number) {
    const SceneLayout layout = scene_layout(image.width(), image.height());
    const auto cells = encode_cells(number);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, false);
    for (int row = 0; row < 2; ++row) {
        for (int column = 0; column < band_columns; ++column) {
            const int index = cell_index(row, column);
            const bool white = index < 0 ? marker_is_white(index, row) : cells[index];
            const int x0 = column_edge(column, image.width());
            const int x1 = column_edge(column + 1, image.width());
            painter.fillRect(x0, row * layout.row_height, x1 - x0, layout.row_height,
                             white ? band_white : band_black);
        }
    }
}

int read_frame_number(const QImage& image) {
    if (image.isNull() || image.width() < band_columns * 2 || image.height() < 16) return -1;
    const QImage grey = image.convertToFormat(QImage::Format_Grayscale8);
    const int width = grey.width();
    const int height = grey.height();

    // Band height: the run of bright rows down the middle of the start marker.
    const double marker_x0 = width / (4.0 * band_columns);
    const double marker_x1 = 3.0 * width / (4.0 * band_columns);
    int band_height = 0;
    while (band_height < height &&
           mean_grey(grey, marker_x0, band_height, marker_x1, band_height + 1) > bright_level)
        ++band_height;
    // Rows are at least 8 pixels and the band at most a third of the picture.
    if (band_height < 12 || band_height > height * 0.4) return -1;
    const double row_height = band_height / 2.0;

    // Band width: the right edge of the stop marker (pictures may be padded on the right).
    const double probe_y0 = row_height * 0.25;
    const double probe_y1 = row_height * 0.75;
    int band_width = width;
    while (band_width > width / 2 &&
           mean_grey(grey, band_width - 1, probe_y0, band_width, probe_y1) <= bright_level)
        --band_width;
    if (band_width <= width / 2) return -1;
    const double cell_width = static_cast<double>(band_width) / band_columns;

    std::array<bool, code_cells> cells{};
    for (int row = 0; row < 2; ++row) {
        for (int column = 0; column < band_columns; ++column) {
            const double x0 = (column + 0.25) * cell_width;
            const double x1 = (column + 0.75) * cell_width;
            const double y0 = (row + 0.25) * row_height;
            const double y1 = (row + 0.75) * row_height;
            const bool bright = mean_grey(grey, x0, y0, x1, y1) > bright_level;
            const int index = cell_index(row, column);
            if (index < 0) {
                if (bright != marker_is_white(index, row)) return -1;
            } else {
                cells[index] = bright;
            }
        }
    }
    return decode_cells(cells);
}

std::vector<double> pendulum_angles(double length_m, double amplitude_deg, double sample_interval_s,
                                    int samples) {
    std::vector<double> angles;
    if (samples <= 0 || !(length_m > 0) || !(sample_interval_s > 0)) return angles;
    angles.reserve(samples);
    const double k = gravity / length_m;
    const int substeps = std::max(1, static_cast<int>(std::ceil(sample_interval_s / 0.0005)));
    const double h = sample_interval_s / substeps;
    double theta = amplitude_deg * std::numbers::pi / 180.0;
    double omega = 0.0;
    const auto accel = [k](double angle) { return -k * std::sin(angle); };
    angles.push_back(theta);
    for (int sample = 1; sample < samples; ++sample) {
        for (int step = 0; step < substeps; ++step) {
            const double k1t = omega, k1w = accel(theta);
            const double k2t = omega + 0.5 * h * k1w, k2w = accel(theta + 0.5 * h * k1t);
            const double k3t = omega + 0.5 * h * k2w, k3w = accel(theta + 0.5 * h * k2t);
            const double k4t = omega + h * k3w, k4w = accel(theta + h * k3t);
            theta += h / 6.0 * (k1t + 2 * k2t + 2 * k3t + k4t);
            omega += h / 6.0 * (k1w + 2 * k2w + 2 * k3w + k4w);
        }
        angles.push_back(theta);
    }
    return angles;
}

QPointF pendulum_pivot(const ClipOptions& options) {
    const SceneLayout layout = scene_layout(options);
    return {layout.width / 2.0, static_cast<double>(layout.motion_top)};
}

namespace {

QPointF pendulum_bob(const ClipOptions& options, double theta) {
    const double reach = options.pendulum_length_m * options.pixels_per_metre;
    const QPointF pivot = pendulum_pivot(options);
    return {pivot.x() + reach * std::sin(theta), pivot.y() + reach * std::cos(theta)};
}

int64_t vfr_time_ms(const ClipOptions& options, int frame) {
    const auto d = vfr_durations_ms(options);
    const int64_t cycles = frame / 3;
    int64_t ms = cycles * (d[0] + d[1] + d[2]);
    for (int k = 0; k < frame % 3; ++k) ms += d[k];
    return ms;
}

// Nominal frames elapsed at frame n: n itself at a constant rate, the time times the
// nominal rate otherwise.
double nominal_frames(const ClipOptions& options, int frame) {
    if (!options.vfr) return frame;
    return frame_time_s(options, frame) * options.fps_num / options.fps_den;
}

// Bob: sweeps across and back every 60 frames while bouncing every 20 frames, so frames
// sampled a few apart never overlap and a composite shows every sample.
QPointF bouncing_bob(const SceneLayout& layout, int frame) {
    const double r = layout.bob_radius;
    const double left = r + 2, right = layout.width - r - 2;
    const double top = layout.motion_top + r + 2, floor = layout.height - r - 2;
    const double phase = std::fmod(std::abs(frame) / 60.0, 1.0);
    const double sweep = 1.0 - std::abs(1.0 - 2.0 * phase);
    const double bounce = std::abs(std::sin(std::numbers::pi * frame / 20.0));
    return {left + (right - left) * sweep, floor - (floor - top) * bounce};
}

QPointF default_start(const ClipOptions& options, const SceneLayout& layout) {
    if (options.start) return *options.start;
    const double r = layout.bob_radius;
    if (options.motion == Motion::Fall) return {layout.width / 2.0, layout.motion_top + r + 2};
    return {r + 2, (layout.motion_top + layout.height) / 2.0};
}

// Centre of the bob in frame n for every motion but the pendulum.
QPointF direct_bob(const ClipOptions& options, const SceneLayout& layout, int frame) {
    switch (options.motion) {
        case Motion::Linear:
            return default_start(options, layout) +
                   options.velocity * nominal_frames(options, frame);
        case Motion::Fall: {
            const double t = frame_time_s(options, frame);
            return default_start(options, layout) +
                   QPointF(0, 0.5 * options.fall_g * t * t * options.pixels_per_metre);
        }
        default:
            return bouncing_bob(layout, frame);
    }
}

Visibility visibility(const SceneLayout& layout, QPointF centre, double radius) {
    const double left = 0, right = layout.width, top = layout.motion_top, bottom = layout.height;
    if (centre.x() - radius >= left && centre.x() + radius <= right && centre.y() - radius >= top &&
        centre.y() + radius <= bottom)
        return Visibility::Whole;
    const double dx = centre.x() - std::clamp(centre.x(), left, right);
    const double dy = centre.y() - std::clamp(centre.y(), top, bottom);
    return dx * dx + dy * dy < radius * radius ? Visibility::Partly : Visibility::Hidden;
}

ObjectPlace place(const SceneLayout& layout, QPointF centre, double radius) {
    return {centre, radius, visibility(layout, centre, radius)};
}

std::optional<ObjectPlace> second_place(const ClipOptions& options, const SceneLayout& layout,
                                        int frame) {
    if (!options.second_object) return std::nullopt;
    const double r = layout.bob_radius / 2;
    const double reach = std::min(layout.width, layout.height) / 10.0;
    const QPointF hub(layout.width - reach - r - 2, layout.height - reach - r - 2);
    const double angle = 2 * std::numbers::pi * nominal_frames(options, frame) / 60.0;
    return place(layout, hub + reach * QPointF(std::cos(angle), std::sin(angle)), r);
}

// Tiles of fixed greys, most darker than the bob, about one in four brighter.
void draw_texture(QImage& image) {
    static constexpr int levels[] = {30, 60, 90, 120, 150, 180, 245, 255};
    const int tile =
        std::max(6, static_cast<int>(std::lround(std::min(image.width(), image.height()) / 12.0)));
    QPainter painter(&image);
    for (int ty = 0; ty * tile < image.height(); ++ty) {
        for (int tx = 0; tx * tile < image.width(); ++tx) {
            // A fixed scramble of the tile position; its top bits pick the level.
            uint32_t h =
                static_cast<uint32_t>(tx) * 0x9E3779B1u ^ static_cast<uint32_t>(ty) * 0x85EBCA77u;
            h ^= h >> 16;
            h *= 0x7FEB352Du;
            h ^= h >> 15;
            h *= 0x846CA68Bu;
            h ^= h >> 16;
            const int grey = levels[h >> 29];
            painter.fillRect(tx * tile, ty * tile, tile, tile, QColor(grey, grey, grey));
        }
    }
}

}  // namespace

std::array<int, 3> vfr_durations_ms(const ClipOptions& options) {
    const int period = std::max(
        2, static_cast<int>(std::lround(1000.0 * options.fps_den / std::max(1, options.fps_num))));
    const int step = std::max(1, static_cast<int>(std::lround(period / 10.0)));
    return {period - step, period, period + step};
}

double frame_time_s(const ClipOptions& options, int frame) {
    if (options.vfr) return vfr_time_ms(options, frame) / 1000.0;
    return static_cast<double>(frame) * options.fps_den / options.fps_num;
}

int64_t frame_time_us(const ClipOptions& options, int frame) {
    if (options.fps_num <= 0 || options.fps_den <= 0) return 0;
    if (options.vfr) return vfr_time_ms(options, frame) * 1000;
    // n * den / num seconds, rounded to the nearest microsecond (halves up).
    const int64_t num = static_cast<int64_t>(frame) * 2'000'000 * options.fps_den + options.fps_num;
    return num / (2 * static_cast<int64_t>(options.fps_num));
}

std::vector<ScenePlaces> scene_path(const ClipOptions& options) {
    std::vector<ScenePlaces> path;
    const int frames = std::max(0, options.frames);
    path.reserve(frames);
    const SceneLayout layout = scene_layout(options);
    const double r = layout.bob_radius;
    if (options.motion == Motion::Pendulum) {
        if (options.vfr) {
            // Sampled every millisecond, the unit of the frame times.
            const int64_t last_ms = frames > 0 ? vfr_time_ms(options, frames - 1) : 0;
            const auto angles = pendulum_angles(options.pendulum_length_m, options.amplitude_deg,
                                                0.001, static_cast<int>(last_ms) + 1);
            for (int frame = 0; frame < frames; ++frame)
                path.push_back(
                    {place(layout, pendulum_bob(options, angles[vfr_time_ms(options, frame)]), r),
                     second_place(options, layout, frame)});
            return path;
        }
        const double interval = static_cast<double>(options.fps_den) / options.fps_num;
        const auto angles =
            pendulum_angles(options.pendulum_length_m, options.amplitude_deg, interval, frames);
        for (int frame = 0; frame < frames; ++frame)
            path.push_back({place(layout, pendulum_bob(options, angles[frame]), r),
                            second_place(options, layout, frame)});
        return path;
    }
    for (int frame = 0; frame < frames; ++frame)
        path.push_back({place(layout, direct_bob(options, layout, frame), r),
                        second_place(options, layout, frame)});
    return path;
}

ScenePlaces scene_places(const ClipOptions& options, int frame) {
    const SceneLayout layout = scene_layout(options);
    const double r = layout.bob_radius;
    if (options.motion != Motion::Pendulum)
        return {place(layout, direct_bob(options, layout, frame), r),
                second_place(options, layout, frame)};
    if (frame < 0 || options.fps_num <= 0 || options.fps_den <= 0) return {};
    std::vector<double> angles;
    if (options.vfr) {
        angles = pendulum_angles(options.pendulum_length_m, options.amplitude_deg, 0.001,
                                 static_cast<int>(vfr_time_ms(options, frame)) + 1);
    } else {
        const double interval = static_cast<double>(options.fps_den) / options.fps_num;
        angles =
            pendulum_angles(options.pendulum_length_m, options.amplitude_deg, interval, frame + 1);
    }
    if (angles.empty()) return {};
    return {place(layout, pendulum_bob(options, angles.back()), r),
            second_place(options, layout, frame)};
}

std::vector<ObjectPlace> bob_places(const ClipOptions& options) {
    std::vector<ObjectPlace> places;
    for (const ScenePlaces& frame : scene_path(options)) places.push_back(frame.bob);
    return places;
}

ObjectPlace bob_place(const ClipOptions& options, int frame) {
    return scene_places(options, frame).bob;
}

QPointF bob_position(const ClipOptions& options, int frame) {
    return bob_place(options, frame).centre;
}

std::optional<ObjectPlace> second_object_place(const ClipOptions& options, int frame) {
    return second_place(options, scene_layout(options), frame);
}

int motion_top(const ClipOptions& options) { return scene_layout(options).motion_top; }

void draw_scene(QImage& image, const ClipOptions& options, int frame, const ScenePlaces& places) {
    const SceneLayout layout = scene_layout(image.width(), image.height());
    image.fill(field_colour);
    if (options.textured_background) draw_texture(image);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, true);
    if (options.motion == Motion::Pendulum) {
        const QPointF pivot = pendulum_pivot(options);
        painter.setPen(QPen(string_colour, std::max(1.0, layout.height / 240.0)));
        painter.drawLine(pivot, places.bob.centre);
        painter.setPen(Qt::NoPen);
        painter.setBrush(string_colour);
        painter.drawEllipse(pivot, 2.0, 2.0);
    }
    painter.setPen(Qt::NoPen);
    painter.setBrush(bob_colour);
    if (places.second)
        painter.drawEllipse(places.second->centre, places.second->radius, places.second->radius);
    painter.drawEllipse(places.bob.centre, layout.bob_radius, layout.bob_radius);
    // The bob may swing past the gap below the band; the band is drawn last so it stays whole.
    painter.setBrush(field_colour);
    painter.drawRect(QRectF(0, 0, layout.width, layout.motion_top));
    painter.end();
    if (options.frame_number_band) draw_frame_number(image, frame);
}

QImage render_frame(const ClipOptions& options, int frame) {
    const QSize size = display_size(options);
    if (size.width() <= 0 || size.height() <= 0) return {};
    QImage image(size, QImage::Format_RGB32);
    draw_scene(image, options, frame, scene_places(options, frame));
    return image;
}

}  // namespace tambrel::clipgen

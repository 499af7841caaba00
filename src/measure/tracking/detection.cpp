#include "measure/tracking/detection.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <opencv2/imgproc.hpp>

namespace tambrel::tracking {

namespace {

constexpr int kLowest = 12;  // the low threshold's floor: 4 levels a channel

// min(255, |Δr| + |Δg| + |Δb|) for every pixel: the four bytes' differences at once,
// then the three colour bytes summed (both passes in vector instructions).
void difference(PictureView frame, PictureView background, cv::Mat& out) {
    thread_local cv::Mat channels;
    const cv::Mat f(frame.height, frame.width, CV_8UC4, const_cast<uint32_t*>(frame.pixels),
                    size_t(frame.stride_px) * 4);
    const cv::Mat b(background.height, background.width, CV_8UC4,
                    const_cast<uint32_t*>(background.pixels), size_t(background.stride_px) * 4);
    cv::absdiff(f, b, channels);
    // QImage's RGB32 is B, G, R, A in memory: the first three bytes, not the fourth.
    cv::transform(channels, out, cv::Matx14f(1, 1, 1, 0));
}

// The difference's histogram from every fourth pixel of every fourth row: enough for
// the still scene's median, at a sixteenth of the reading.
std::array<int64_t, 256> sparse_histogram(const cv::Mat& diff, int64_t& count) {
    std::array<int64_t, 256> histogram{};
    count = 0;
    for (int y = 0; y < diff.rows; y += 4) {
        const uint8_t* d = diff.ptr<uint8_t>(y);
        for (int x = 0; x < diff.cols; x += 4) ++histogram[d[x]];
        count += (diff.cols + 3) / 4;
    }
    return histogram;
}

int median_of(const std::array<int64_t, 256>& histogram, int64_t count) {
    int64_t seen = 0;
    for (int v = 0; v < 256; ++v) {
        seen += histogram[size_t(v)];
        if (2 * seen >= count) return v;
    }
    return 255;
}

// The body of one region: its pixels (label == id inside `box`) with holes filled and
// what is thinner than half its radius opened away. `area` gets the filled region's
// pixels; the centroid is the body's, or the filled region's where opening leaves
// nothing.
Region body_of(const cv::Mat& labels, int id, cv::Rect box, cv::Size picture) {
    cv::Mat mask = (labels(box) == id);
    std::vector<std::vector<cv::Point>> outlines;
    cv::findContours(mask, outlines, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_NONE);
    cv::Mat filled = cv::Mat::zeros(box.size(), CV_8UC1);
    cv::drawContours(filled, outlines, -1, cv::Scalar(255), cv::FILLED);
    filled |= mask;

    Region region;
    region.area = cv::countNonZero(filled);
    const double radius = std::sqrt(region.area / M_PI);
    const int size = std::max(3, int(std::lround(radius / 2)) | 1);
    cv::Mat body;
    // Outside the box is outside the region: a constant border of 0 keeps the opening
    // from growing the body into it.
    cv::morphologyEx(filled, body, cv::MORPH_OPEN,
                     cv::getStructuringElement(cv::MORPH_ELLIPSE, cv::Size(size, size)),
                     cv::Point(-1, -1), 1, cv::BORDER_CONSTANT, cv::Scalar(0));
    cv::Moments m = cv::moments(body, true);
    if (m.m00 <= 0) {
        body = filled;
        m = cv::moments(body, true);
    }
    // Moments count pixel (i, j) at (i, j); its centre is at (i + 0.5, j + 0.5).
    const double cx = m.m10 / m.m00 + 0.5, cy = m.m01 / m.m00 + 0.5;
    // Cut off by the border: the body reaches the border on one side of its centroid
    // less far than it reaches away from it on the other. A body cut that way by h
    // pixels has its centroid moved by about h^1.5 / √radius; one that only grazes
    // the border, or whose faint rim does (a lossy codec blurs edges by a pixel or
    // two), is as long on both sides.
    const cv::Rect reach = cv::boundingRect(body);
    const double allowed = std::max(1.0, radius / 20);
    const auto cut = [&](bool touches, double near, double far) {
        return touches && far - near > allowed;
    };
    region.at_edge =
        cut(box.x == 0 && reach.x == 0, cx, reach.x + reach.width - cx) ||
        cut(box.y == 0 && reach.y == 0, cy, reach.y + reach.height - cy) ||
        cut(box.x + box.width == picture.width && reach.x + reach.width == box.width,
            box.width - cx, cx - reach.x) ||
        cut(box.y + box.height == picture.height && reach.y + reach.height == box.height,
            box.height - cy, cy - reach.y);
    region.x = box.x + cx;
    region.y = box.y + cy;
    return region;
}

}  // namespace

FrameRegions find_regions(PictureView frame, PictureView background) {
    FrameRegions out;
    if (!frame.pixels || !background.pixels || frame.width != background.width ||
        frame.height != background.height || frame.width <= 0 || frame.height <= 0)
        return out;
    const int width = frame.width, height = frame.height;

    // Working pictures kept from one frame to the next on each thread: a run's frames
    // are all of one size, and fresh ones would cost the system a page fault per page.
    thread_local cv::Mat diff, upper, changed, labels, stats, centroids;
    difference(frame, background, diff);

    int64_t sampled = 0;
    const auto histogram = sparse_histogram(diff, sampled);
    out.low = std::min(254, std::max(kLowest, 3 * median_of(histogram, sampled) + 6));
    // Otsu's threshold: the value that splits the histogram into the two classes
    // farthest apart; values above it are the upper class.
    const int otsu = int(cv::threshold(diff, upper, 0, 255, cv::THRESH_BINARY | cv::THRESH_OTSU));
    out.high = std::min(255, std::max(otsu, 2 * out.low));
    if (out.high != otsu) cv::threshold(diff, upper, out.high, 255, cv::THRESH_BINARY);

    cv::threshold(diff, changed, out.low, 255, cv::THRESH_BINARY);
    cv::morphologyEx(changed, changed, cv::MORPH_OPEN,
                     cv::getStructuringElement(cv::MORPH_RECT, cv::Size(3, 3)));
    const int n = cv::connectedComponentsWithStats(changed, labels, stats, centroids, 8, CV_32S);
    if (n <= 1) return out;

    // Which regions hold a pixel above the high threshold: few pixels are, mostly.
    std::vector<uint8_t> strong(size_t(n), 0);
    std::vector<cv::Point> above;
    cv::findNonZero(upper, above);
    for (const cv::Point& p : above) strong[size_t(labels.at<int32_t>(p))] = 1;
    std::vector<int> ids;
    for (int id = 1; id < n; ++id)
        if (strong[size_t(id)]) ids.push_back(id);
    std::sort(ids.begin(), ids.end(), [&](int a, int b) {
        return stats.at<int>(a, cv::CC_STAT_AREA) > stats.at<int>(b, cv::CC_STAT_AREA);
    });
    if (ids.size() > size_t(kMostRegions)) ids.resize(size_t(kMostRegions));
    for (const int id : ids) {
        const cv::Rect box(stats.at<int>(id, cv::CC_STAT_LEFT), stats.at<int>(id, cv::CC_STAT_TOP),
                           stats.at<int>(id, cv::CC_STAT_WIDTH),
                           stats.at<int>(id, cv::CC_STAT_HEIGHT));
        out.regions.push_back(body_of(labels, id, box, cv::Size(width, height)));
    }
    std::stable_sort(out.regions.begin(), out.regions.end(),
                     [](const Region& a, const Region& b) { return a.area > b.area; });
    return out;
}

}  // namespace tambrel::tracking

// Timings of the object's detection: one frame of a pendulum over tiles (the string,
// the texture and a bright bob, as make-clip draws them) against the median background
// of 15 frames of the same scene, at 640 x 480, 1280 x 720 and 1920 x 1080; the median
// itself at 1080p for comparison; and the choice over a run of 300 frames.

#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QImage>
#include <vector>

#include "clipgen.h"
#include "compose/median.h"
#include "measure/tracking/detection.h"
#include "measure/tracking/track_path.h"

using namespace tambrel;

namespace {

clipgen::ClipOptions scene(int width, int height) {
    clipgen::ClipOptions o;
    o.motion = clipgen::Motion::Pendulum;
    o.width = width;
    o.height = height;
    o.frames = 90;
    o.frame_number_band = false;
    o.textured_background = true;
    o.pixels_per_metre = height * 1.25;
    return o;
}

tracking::PictureView view(const QImage& image) {
    return {reinterpret_cast<const uint32_t*>(image.constBits()), image.bytesPerLine() / 4,
            image.width(), image.height()};
}

struct Pictures {
    QImage frame, background;
    std::vector<QImage> spread;
};

Pictures pictures(int width, int height) {
    const clipgen::ClipOptions o = scene(width, height);
    Pictures p;
    for (int n = 0; n < 90; n += 6)
        p.spread.push_back(clipgen::render_frame(o, n).convertToFormat(QImage::Format_RGB32));
    std::vector<ConstPixelBlock> blocks;
    for (const QImage& s : p.spread)
        blocks.push_back({reinterpret_cast<const uint32_t*>(s.constBits()), s.bytesPerLine() / 4});
    p.background = QImage(width, height, QImage::Format_RGB32);
    median_rgb32(blocks, reinterpret_cast<uint32_t*>(p.background.bits()),
                 p.background.bytesPerLine() / 4, width, height);
    p.frame = clipgen::render_frame(o, 17).convertToFormat(QImage::Format_RGB32);
    return p;
}

void BM_FindRegions(benchmark::State& state) {
    const int width = int(state.range(0)), height = int(state.range(1));
    const Pictures p = pictures(width, height);
    size_t found = 0;
    for (auto _ : state) {
        const tracking::FrameRegions r = tracking::find_regions(view(p.frame), view(p.background));
        found += r.regions.size();
        benchmark::DoNotOptimize(found);
    }
    state.counters["frames/s"] =
        benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["regions"] = double(found) / double(state.iterations());
}
BENCHMARK(BM_FindRegions)
    ->Args({640, 480})
    ->Args({1280, 720})
    ->Args({1920, 1080})
    ->ArgNames({"w", "h"})
    ->Unit(benchmark::kMillisecond);

void BM_Median15At1080p(benchmark::State& state) {
    const Pictures p = pictures(1920, 1080);
    std::vector<ConstPixelBlock> blocks;
    for (const QImage& s : p.spread)
        blocks.push_back({reinterpret_cast<const uint32_t*>(s.constBits()), s.bytesPerLine() / 4});
    QImage out(1920, 1080, QImage::Format_RGB32);
    for (auto _ : state) {
        median_rgb32(blocks, reinterpret_cast<uint32_t*>(out.bits()), out.bytesPerLine() / 4, 1920,
                     1080);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_Median15At1080p)->Unit(benchmark::kMillisecond);

void BM_ChoosePath300(benchmark::State& state) {
    // Each frame: the bob on a circle, a smaller body, and a speck of noise.
    std::vector<tracking::FrameRegions> frames(300);
    std::vector<double> times(300);
    for (int k = 0; k < 300; ++k) {
        const double a = k * 0.15;
        frames[size_t(k)].regions = {
            {320 + 100 * std::sin(a), 240 + 20 * std::cos(2 * a), 2800, false},
            {500, 400, 700, false},
            {double(k % 640), 30, 40, false}};
        times[size_t(k)] = k / 30.0;
    }
    for (auto _ : state) benchmark::DoNotOptimize(tracking::choose_path(frames, times));
}
BENCHMARK(BM_ChoosePath300)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    // make-clip draws its scenes with QPainter: a GUI application, shown nowhere.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

// Timings of the merge: the kernel on a standard pass region and on a full-HD frame
// (white, black and difference priority), each beside a memcpy of the same bytes, the
// median background of a difference run, and a whole blend cycle of the window (fake
// platform and media service, offscreen) without the 300 ms pace.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QLineEdit>
#include <QPainter>
#include <QRadioButton>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "compose/blend.h"
#include "compose/median.h"
#include "support/form_fixture.h"

using namespace tambrel;

namespace {

// Noise images, so neither rule is a constant choice for the branch-free kernel either.
QImage noise(int width, int height, unsigned seed) {
    QImage image(width, height, QImage::Format_RGB32);
    std::mt19937 rng(seed);
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) row[x] = 0xff000000u | (rng() & 0xffffffu);
    }
    return image;
}

void set_bytes(benchmark::State& state, int width, int height) {
    state.SetBytesProcessed(int64_t(state.iterations()) * width * height * 4);
    state.counters["px"] = double(width) * height;
}

// The standard pass: a 313 x 233 block of the 316 x 236 frame into the 366 x 286 composite.
constexpr int kPassWidth = 313, kPassHeight = 233;

void BM_PassKernel(benchmark::State& state) {
    const Priority priority = state.range(0) ? Priority::White : Priority::Black;
    QImage composite = noise(366, 286, 1);
    const QImage frame = noise(316, 236, 2);
    auto* c = reinterpret_cast<uint32_t*>(composite.bits());
    const auto* f = reinterpret_cast<const uint32_t*>(frame.constBits());
    for (auto _ : state) {
        blend_rgb32(c, composite.bytesPerLine() / 4, f, frame.bytesPerLine() / 4, kPassWidth,
                    kPassHeight, priority);
        benchmark::ClobberMemory();
    }
    set_bytes(state, kPassWidth, kPassHeight);
}
BENCHMARK(BM_PassKernel)->Arg(1)->Arg(0)->ArgName("white");

void BM_PassMemcpy(benchmark::State& state) {
    QImage composite = noise(366, 286, 1);
    const QImage frame = noise(316, 236, 2);
    for (auto _ : state) {
        for (int y = 0; y < kPassHeight; ++y)
            std::memcpy(composite.scanLine(y), frame.constScanLine(y), kPassWidth * 4);
        benchmark::ClobberMemory();
    }
    set_bytes(state, kPassWidth, kPassHeight);
}
BENCHMARK(BM_PassMemcpy);

// priority: 0 white, 1 black, 2 difference (which also reads a background).
void BM_FullHdKernel(benchmark::State& state) {
    const Priority priority = static_cast<Priority>(state.range(0));
    constexpr int w = 1920, h = 1080;
    std::vector<uint32_t> composite(w * h), frame(w * h), background(w * h);
    std::mt19937 rng(3);
    for (auto& p : composite) p = rng();
    for (auto& p : frame) p = rng();
    for (auto& p : background) p = rng();
    for (auto _ : state) {
        blend_rgb32(composite.data(), w, frame.data(), w, w, h, priority, {background.data(), w});
        benchmark::ClobberMemory();
    }
    set_bytes(state, w, h);
}
BENCHMARK(BM_FullHdKernel)->Arg(0)->Arg(1)->Arg(2)->ArgName("priority");

// The background of a difference run: the median of 15 full-HD frames.
void BM_FullHdMedianOf15(benchmark::State& state) {
    constexpr int w = 1920, h = 1080, count = 15;
    std::vector<std::vector<uint32_t>> frames(count, std::vector<uint32_t>(w * h));
    std::mt19937 rng(4);
    std::vector<ConstPixelBlock> blocks;
    for (auto& f : frames) {
        for (auto& p : f) p = rng();
        blocks.push_back({f.data(), w});
    }
    std::vector<uint32_t> median(w * h);
    for (auto _ : state) {
        median_rgb32(blocks, median.data(), w, w, h);
        benchmark::ClobberMemory();
    }
    set_bytes(state, w, h);
}
BENCHMARK(BM_FullHdMedianOf15)->Unit(benchmark::kMillisecond);

void BM_FullHdMemcpy(benchmark::State& state) {
    constexpr int w = 1920, h = 1080;
    std::vector<uint32_t> composite(w * h), frame(w * h, 0x12345678u);
    for (auto _ : state) {
        std::memcpy(composite.data(), frame.data(), frame.size() * 4);
        benchmark::ClobberMemory();
    }
    set_bytes(state, w, h);
}
BENCHMARK(BM_FullHdMemcpy);

// One blend cycle of a real run: "step", "stop", "update" drawing a frame into Picture2,
// clipboard, merge pass, progress bar, axes, yield. The clock jumps 300 ms per read, so
// the pace wait ends at its first read. Timed from one yield to the next.
void BM_BlendCycle(benchmark::State& state) {
    testing::FormFixture<> f;
    const QImage frames[2] = {noise(316, 236, 4), noise(316, 236, 5)};
    f.service.frame = [&](int p) { return frames[p & 1]; };
    f.form->cmd_enabled(-1, -1);
    f.platform.ms_per_read = 300;
    f.platform.on_yield = [&](int) {
        if (!state.KeepRunning()) f.form->Cmdgouseistop_Click();
    };
    f.form->Text6->setText("1");
    f.form->CmdGosei_Click();  // the seed cycle runs before the first timed yield
}
BENCHMARK(BM_BlendCycle)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

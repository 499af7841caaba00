#include "compose/blend.h"

#include <cstdlib>

#include "compose/blend_paths.h"

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define TAMBREL_BLEND_AVX2 1
#else
#define TAMBREL_BLEND_AVX2 0
#endif

namespace tambrel {

namespace {

using blend_paths::Path;

// The channel sum is the same in 0x00BBGGRR and 0xffRRGGBB: only the order differs.
// Signed, so a vectorised compare is one instruction.
inline int32_t channel_sum(uint32_t p) {
    return static_cast<int32_t>((p & 0xffu) + ((p >> 8) & 0xffu) + ((p >> 16) & 0xffu));
}

// One row, written so the compiler turns it into compares and masked selects on whole
// vectors: no branches, no early exits, and the rule fixed per instantiation.
template <Priority P>
void blend_row_portable(uint32_t* __restrict composite, const uint32_t* __restrict frame,
                        int width) {
    for (int x = 0; x < width; ++x) {
        const uint32_t c = composite[x];
        const uint32_t f = frame[x];
        const int32_t sc = channel_sum(c);
        const int32_t sf = channel_sum(f);
        const bool take_new = P == Priority::White ? sf >= sc : sf < sc;
        composite[x] = (take_new ? f : c) | 0xff000000u;
    }
}

inline int32_t channel_distance(uint32_t a, uint32_t b) {
    int32_t sum = 0;
    for (int shift = 0; shift < 24; shift += 8) {
        const int32_t d =
            static_cast<int32_t>((a >> shift) & 0xffu) - static_cast<int32_t>((b >> shift) & 0xffu);
        sum += d < 0 ? -d : d;
    }
    return sum;
}

// Difference priority: the frame's colour replaces the composite's only when strictly
// farther from the background, so on a tie the earlier frame stays.
void difference_row_portable(uint32_t* __restrict composite, const uint32_t* __restrict frame,
                             const uint32_t* __restrict background, int width) {
    for (int x = 0; x < width; ++x) {
        const uint32_t c = composite[x];
        const uint32_t f = frame[x];
        const bool take_new =
            channel_distance(f, background[x]) > channel_distance(c, background[x]);
        composite[x] = (take_new ? f : c) | 0xff000000u;
    }
}

#if TAMBREL_BLEND_AVX2
// Eight pixels per step. maddubs with the byte weights (1, 1, 1, 0) turns each pixel into
// the 16-bit pair (blue + green, red); the pairs of the frame minus those of the
// composite, added up by madd, give sum_new - sum_composite, whose sign bit drives the
// select directly. The compiler's own vectorisation of the portable loop needs about
// twice the instructions.
template <Priority P>
__attribute__((target("avx2"))) void blend_row_avx2(uint32_t* __restrict composite,
                                                    const uint32_t* __restrict frame, int width) {
    const __m256i weights = _mm256_set1_epi32(0x00010101);
    const __m256i ones = _mm256_set1_epi16(1);
    const __m256i opaque = _mm256_set1_epi32(static_cast<int>(0xff000000u));
    int x = 0;
    for (; x + 8 <= width; x += 8) {
        auto* cp = reinterpret_cast<__m256i*>(composite + x);
        const __m256i c = _mm256_loadu_si256(cp);
        const __m256i f = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(frame + x));
        const __m256i pairs =
            _mm256_sub_epi16(_mm256_maddubs_epi16(f, weights), _mm256_maddubs_epi16(c, weights));
        const __m256 new_darker = _mm256_castsi256_ps(_mm256_madd_epi16(pairs, ones));
        const __m256 fs = _mm256_castsi256_ps(f), cs = _mm256_castsi256_ps(c);
        // blendv takes its second operand where the sign bit is set (sum_new < sum_comp).
        const __m256 chosen = P == Priority::White ? _mm256_blendv_ps(fs, cs, new_darker)
                                                   : _mm256_blendv_ps(cs, fs, new_darker);
        _mm256_storeu_si256(cp, _mm256_or_si256(_mm256_castps_si256(chosen), opaque));
    }
    blend_row_portable<P>(composite + x, frame + x, width - x);
}

__attribute__((target("avx2"))) inline __m256i absdiff_epu8(__m256i a, __m256i b) {
    return _mm256_or_si256(_mm256_subs_epu8(a, b), _mm256_subs_epu8(b, a));
}

// Eight pixels per step: the bytewise absolute differences from the background (the
// larger minus the smaller, saturating), summed per pixel as in blend_row_avx2, give
// distance_composite - distance_frame, negative exactly where the frame is farther.
__attribute__((target("avx2"))) void difference_row_avx2(uint32_t* __restrict composite,
                                                         const uint32_t* __restrict frame,
                                                         const uint32_t* __restrict background,
                                                         int width) {
    const __m256i weights = _mm256_set1_epi32(0x00010101);
    const __m256i ones = _mm256_set1_epi16(1);
    const __m256i opaque = _mm256_set1_epi32(static_cast<int>(0xff000000u));
    int x = 0;
    for (; x + 8 <= width; x += 8) {
        auto* cp = reinterpret_cast<__m256i*>(composite + x);
        const __m256i c = _mm256_loadu_si256(cp);
        const __m256i f = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(frame + x));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(background + x));
        const __m256i pairs = _mm256_sub_epi16(_mm256_maddubs_epi16(absdiff_epu8(c, b), weights),
                                               _mm256_maddubs_epi16(absdiff_epu8(f, b), weights));
        const __m256 frame_farther = _mm256_castsi256_ps(_mm256_madd_epi16(pairs, ones));
        const __m256 chosen =
            _mm256_blendv_ps(_mm256_castsi256_ps(c), _mm256_castsi256_ps(f), frame_farther);
        _mm256_storeu_si256(cp, _mm256_or_si256(_mm256_castps_si256(chosen), opaque));
    }
    difference_row_portable(composite + x, frame + x, background + x, width - x);
}
#endif

template <Priority P>
void blend_block(Path path, uint32_t* composite, ptrdiff_t composite_stride, const uint32_t* frame,
                 ptrdiff_t frame_stride, int width, int height) {
    void (*row)(uint32_t*, const uint32_t*, int) = blend_row_portable<P>;
#if TAMBREL_BLEND_AVX2
    if (path == Path::Avx2) row = blend_row_avx2<P>;
#endif
    for (int y = 0; y < height; ++y) {
        uint32_t* crow = composite + y * composite_stride;
        const uint32_t* frow = frame + y * frame_stride;
        // The same row in both: every pixel keeps its colour (only the top byte may change).
        if (crow == frow) {
            for (int x = 0; x < width; ++x) crow[x] |= 0xff000000u;
            continue;
        }
        row(crow, frow, width);
    }
}

void difference_block(Path path, uint32_t* composite, ptrdiff_t composite_stride,
                      const uint32_t* frame, ptrdiff_t frame_stride, BackgroundBlock background,
                      int width, int height) {
    void (*row)(uint32_t*, const uint32_t*, const uint32_t*, int) = difference_row_portable;
#if TAMBREL_BLEND_AVX2
    if (path == Path::Avx2) row = difference_row_avx2;
#endif
    for (int y = 0; y < height; ++y) {
        uint32_t* crow = composite + y * composite_stride;
        const uint32_t* frow = frame + y * frame_stride;
        if (crow == frow) {
            for (int x = 0; x < width; ++x) crow[x] |= 0xff000000u;
            continue;
        }
        row(crow, frow, background.pixels + y * background.stride_px, width);
    }
}

Path best_path() {
#if TAMBREL_BLEND_AVX2
    static const bool avx2 = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    if (avx2) return Path::Avx2;
#endif
    return Path::Portable;
}

}  // namespace

namespace blend_paths {

bool available(Path path) { return path == Path::Portable || best_path() == Path::Avx2; }

void blend_rgb32_on(Path path, uint32_t* composite, ptrdiff_t composite_stride_px,
                    const uint32_t* frame, ptrdiff_t frame_stride_px, int width, int height,
                    Priority priority, BackgroundBlock background) {
    if (width <= 0 || height <= 0) return;
    switch (priority) {
        case Priority::White:
            blend_block<Priority::White>(path, composite, composite_stride_px, frame,
                                         frame_stride_px, width, height);
            break;
        case Priority::Black:
            blend_block<Priority::Black>(path, composite, composite_stride_px, frame,
                                         frame_stride_px, width, height);
            break;
        case Priority::Difference:
            if (background.pixels)
                difference_block(path, composite, composite_stride_px, frame, frame_stride_px,
                                 background, width, height);
            break;
    }
}

}  // namespace blend_paths

double pixel_brightness(Color c) {
    return (static_cast<double>(red_of(c)) + green_of(c) + blue_of(c)) / 3.0;
}

int colour_distance(Color a, Color b) {
    return std::abs(red_of(a) - red_of(b)) + std::abs(green_of(a) - green_of(b)) +
           std::abs(blue_of(a) - blue_of(b));
}

Color blend_pixel(Color composite, Color frame, Priority priority, Color background) {
    const double sc = pixel_brightness(composite);
    const double sn = pixel_brightness(frame);
    bool take_new = false;
    switch (priority) {
        case Priority::White:
            take_new = sn >= sc;
            break;
        case Priority::Black:
            take_new = sn < sc;
            break;
        case Priority::Difference:
            take_new = colour_distance(frame, background) > colour_distance(composite, background);
            break;
    }
    const Color chosen = take_new ? frame : composite;
    return rgb(red_of(chosen), green_of(chosen), blue_of(chosen));
}

void blend_rgb32(uint32_t* composite, ptrdiff_t composite_stride_px, const uint32_t* frame,
                 ptrdiff_t frame_stride_px, int width, int height, Priority priority,
                 BackgroundBlock background) {
    blend_paths::blend_rgb32_on(best_path(), composite, composite_stride_px, frame, frame_stride_px,
                                width, height, priority, background);
}

}  // namespace tambrel

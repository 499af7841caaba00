#include "compose/median.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace tambrel {

namespace {

// Orders two rows byte by byte: the smaller values into `low`, the larger into `high`.
// Bytes are independent, so this is one unsigned min and max per 32 bytes once
// vectorised, whatever the channel.
void order_rows(uint8_t* __restrict low, uint8_t* __restrict high, size_t bytes) {
    for (size_t i = 0; i < bytes; ++i) {
        const unsigned a = low[i], b = high[i];
        low[i] = static_cast<uint8_t>(a < b ? a : b);
        high[i] = static_cast<uint8_t>(a < b ? b : a);
    }
}

}  // namespace

void median_rgb32(std::span<const ConstPixelBlock> blocks, uint32_t* out, ptrdiff_t out_stride_px,
                  int width, int height) {
    if (blocks.empty() || width <= 0 || height <= 0) return;
    const size_t count = blocks.size();
    const size_t row_bytes = static_cast<size_t>(width) * 4;
    std::vector<uint8_t> rows(count * row_bytes);
    for (int y = 0; y < height; ++y) {
        for (size_t k = 0; k < count; ++k)
            std::memcpy(rows.data() + k * row_bytes, blocks[k].pixels + y * blocks[k].stride_px,
                        row_bytes);
        // Odd-even transposition sort: `count` rounds of neighbour exchanges sort any
        // `count` values, and each exchange is a whole row at once.
        for (size_t round = 0; round < count; ++round)
            for (size_t k = round % 2; k + 1 < count; k += 2)
                order_rows(rows.data() + k * row_bytes, rows.data() + (k + 1) * row_bytes,
                           row_bytes);
        std::memcpy(out + y * out_stride_px, rows.data() + (count / 2) * row_bytes, row_bytes);
    }
}

}  // namespace tambrel

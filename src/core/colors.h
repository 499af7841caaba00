#pragma once
// Colours as the window code handles them: 0x00BBGGRR (red in the low byte), and the
// conversion to and from the QImage RGB32 layout (0xffRRGGBB) that surfaces store.

#include <cstdint>

namespace tambrel {

using Color = uint32_t;  // 0x00BBGGRR

constexpr Color rgb(int r, int g, int b) {
    return static_cast<Color>(r) + 256u * static_cast<Color>(g) + 65536u * static_cast<Color>(b);
}
constexpr int red_of(Color c) { return static_cast<int>(c & 0xff); }
constexpr int green_of(Color c) { return static_cast<int>((c >> 8) & 0xff); }
constexpr int blue_of(Color c) { return static_cast<int>((c >> 16) & 0xff); }

constexpr uint32_t to_rgb32(Color c) {
    return 0xff000000u | (static_cast<uint32_t>(red_of(c)) << 16) |
           (static_cast<uint32_t>(green_of(c)) << 8) | static_cast<uint32_t>(blue_of(c));
}
constexpr Color from_rgb32(uint32_t p) {
    return rgb(static_cast<int>((p >> 16) & 0xff), static_cast<int>((p >> 8) & 0xff),
               static_cast<int>(p & 0xff));
}

// Palette colours used by index.
constexpr Color kBlack = rgb(0, 0, 0);         // palette 0
constexpr Color kBrightBlue = rgb(0, 0, 255);  // palette 9
constexpr Color kWhite = rgb(255, 255, 255);

}  // namespace tambrel

#include "core/picture_fit.h"

#include <algorithm>
#include <charconv>
#include <cstdint>

namespace tambrel {

bool is_four_by_three(QSize picture) {
    return picture.width() > 0 && picture.height() > 0 &&
           int64_t(picture.width()) * 3 == int64_t(picture.height()) * 4;
}

QRect picture_fit(QSize source, QSize area) {
    const QRect whole(QPoint(0, 0), area);
    if (source.width() <= 0 || source.height() <= 0 || is_four_by_three(source)) return whole;
    const int64_t sw = source.width(), sh = source.height();
    const int64_t aw = area.width(), ah = area.height();
    // Nearest pixel, halves up; a picture never vanishes to nothing.
    const auto scaled = [](int64_t value, int64_t num, int64_t den) {
        return static_cast<int>(std::max<int64_t>(1, (2 * value * num + den) / (2 * den)));
    };
    // Wider than the area (in proportion): the width fills it, else the height does.
    if (sw * ah >= sh * aw) return QRect(0, 0, int(aw), scaled(sh, aw, sw));
    return QRect(0, 0, scaled(sw, ah, sh), int(ah));
}

std::optional<QSize> source_size_from_reply(std::string_view reply) {
    int values[4] = {};
    const char* p = reply.data();
    const char* const end = reply.data() + reply.size();
    for (int& value : values) {
        while (p < end && *p == ' ') ++p;
        const auto [next, ec] = std::from_chars(p, end, value);
        if (ec != std::errc()) return std::nullopt;
        p = next;
    }
    while (p < end && *p == ' ') ++p;
    if (p != end || values[2] <= 0 || values[3] <= 0) return std::nullopt;
    return QSize(values[2], values[3]);
}

}  // namespace tambrel

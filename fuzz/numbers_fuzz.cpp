// The reply-as-number reader and the number forms: random text must read without a
// fault, and every number the program writes must read back as itself.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "core/numbers.h"

using namespace tambrel;

namespace {

void require(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "property broken: %s\n", what);
        std::abort();
    }
}

// Rounding to a 16- or 32-bit integer: nearest, halves to even, nullopt exactly when the
// value is not finite or lands outside the type.
template <typename Int>
void check_rounding(double v, std::optional<Int> got, double lo, double hi) {
    if (!std::isfinite(v)) return require(!got, "non-finite value rounded");
    const double r = std::nearbyint(v);
    if (r < lo || r > hi) return require(!got, "out-of-range value rounded");
    require(got.has_value(), "in-range value refused");
    require(std::fabs(static_cast<double>(*got) - v) <= 0.5, "rounded more than half away");
    if (std::fabs(static_cast<double>(*got) - v) == 0.5)
        require(*got % 2 == 0, "half rounded to odd");
}

void check_reader(std::string_view text) {
    size_t consumed = 12345;
    const double v = read_number(text, &consumed);
    require(consumed <= text.size(), "consumed past the end");
    if (consumed == 0) {
        require(v == 0.0, "no number read as non-zero");
    } else {
        // The number is exactly its prefix: reading the prefix alone gives the same.
        size_t again = 0;
        const double w = read_number(text.substr(0, consumed), &again);
        require(again == consumed, "prefix consumed differently");
        require((std::isnan(v) && std::isnan(w)) || v == w, "prefix read differently");
    }
    check_rounding<int16_t>(v, to_int16(v), -32768, 32767);
    check_rounding<int32_t>(v, to_int32(v), -2147483648.0, 2147483647.0);
    const auto reply = reply_as_int16(text);
    require(reply == to_int16(v), "reply_as_int16 differs from read_number + to_int16");

    const auto typed = text_as_int16(text);
    if (typed) require(consumed > 0 && *typed == *to_int16(v), "typed number read wrongly");
    const auto typed_comma = text_as_int16(text, U',');
    if (text.find(',') == std::string_view::npos)
        require(typed_comma == typed, "comma reader differs on text without a comma");
}

void check_integer_forms(int32_t value) {
    const std::string p = plain(value), lb = leading_blank(value), fi = format_integer(value);
    require(!p.empty() && p.find(' ') == std::string::npos, "plain form has a blank");
    require(p[0] != '+' && (p.size() == 1 || p[0] != '0'), "plain form has sign or zero");
    require(lb == (value >= 0 ? " " + p : p), "leading-blank form");
    require(fi == p, "#0 form differs from plain");
    size_t consumed = 0;
    require(read_number(lb, &consumed) == value && consumed == lb.size(),
            "leading-blank form does not read back");
    const auto as16 = text_as_int16(p);
    if (value >= -32768 && value <= 32767)
        require(as16 && *as16 == value, "16-bit value does not read back");
    else
        require(!as16, "value beyond 16 bits read as 16 bits");
}

void check_single(float f) {
    for (const std::string_view point : {std::string_view("."), std::string_view(",")}) {
        const std::string s = format_single(f, point);
        require(!s.empty() && s.size() < 20, "single form length");
        if (std::isnan(f)) return require(s == "NaN", "NaN form");
        if (std::isinf(f)) return require(s == (f > 0 ? "Inf" : "-Inf"), "infinity form");
        std::string dotted = s;
        if (point == ",")
            for (char& c : dotted)
                if (c == ',') c = '.';
        const auto e = dotted.find('E');
        const std::string mantissa = dotted.substr(0, e);
        require(mantissa.empty() ||
                    (mantissa.back() != '.' &&
                     (mantissa.find('.') == std::string::npos || mantissa.back() != '0')),
                "trailing zero or point in single form");
        size_t consumed = 0;
        const double back = read_number(dotted, &consumed);
        require(consumed == dotted.size(), "single form does not read as one number");
        // Seven significant digits: within half a unit of the seventh digit.
        const double tolerance = std::fabs(static_cast<double>(f)) * 5.0000001e-7;
        require(std::fabs(back - static_cast<double>(f)) <= tolerance, "single form inexact");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    check_reader(text);
    if (size >= 4) {
        int32_t i = 0;
        float f = 0;
        std::memcpy(&i, data, 4);
        std::memcpy(&f, data, 4);
        check_integer_forms(i);
        check_single(f);
    }
    return 0;
}

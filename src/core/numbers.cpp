#include "core/numbers.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

namespace tambrel {
namespace {

template <typename Int>
std::optional<Int> round_even(double value) {
    if (!std::isfinite(value)) return std::nullopt;
    // nearbyint under the default rounding mode rounds halves to even.
    const double r = std::nearbyint(value);
    if (r < static_cast<double>(std::numeric_limits<Int>::min()) ||
        r > static_cast<double>(std::numeric_limits<Int>::max()))
        return std::nullopt;
    return static_cast<Int>(r);
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

std::optional<int16_t> to_int16(double value) { return round_even<int16_t>(value); }
std::optional<int32_t> to_int32(double value) { return round_even<int32_t>(value); }

std::string leading_blank(int32_t value) {
    return value >= 0 ? " " + std::to_string(value) : std::to_string(value);
}

std::string plain(int32_t value) { return std::to_string(value); }

std::string format_integer(int32_t value) { return std::to_string(value); }

double read_number(std::string_view text, size_t* consumed) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    std::string number;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) number += text[i++];
    size_t digits = 0;
    while (i < text.size() && is_digit(text[i])) number += text[i++], ++digits;
    if (i < text.size() && text[i] == '.') {
        number += text[i++];
        while (i < text.size() && is_digit(text[i])) number += text[i++], ++digits;
    }
    if (digits == 0) {
        if (consumed) *consumed = 0;
        return 0.0;
    }
    // An exponent counts only when digits follow it.
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        size_t j = i + 1;
        if (j < text.size() && (text[j] == '+' || text[j] == '-')) ++j;
        if (j < text.size() && is_digit(text[j])) {
            number += 'e';
            number.append(text.substr(i + 1, j - i - 1));
            while (j < text.size() && is_digit(text[j])) number += text[j++];
            i = j;
        }
    }
    if (consumed) *consumed = i;
    // from_chars ignores the process locale (strtod would not read '.' in a comma locale).
    if (number[0] == '+') number.erase(0, 1);
    double value = 0.0;
    const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (ec == std::errc::result_out_of_range)
        return number[0] == '-' ? -HUGE_VAL : HUGE_VAL;
    return value;
}

std::optional<int16_t> reply_as_int16(std::string_view reply) {
    return to_int16(read_number(reply));
}

std::optional<int16_t> text_as_int16(std::string_view text, char32_t decimal_point) {
    std::string normalised(text);
    if (decimal_point == U',') {
        for (char& c : normalised)
            if (c == ',') c = '.';
    }
    size_t consumed = 0;
    const double value = read_number(normalised, &consumed);
    if (consumed == 0) return std::nullopt;
    for (size_t i = consumed; i < normalised.size(); ++i)
        if (normalised[i] != ' ' && normalised[i] != '\t') return std::nullopt;
    return to_int16(value);
}

std::string format_single(float value, std::string_view decimal_point) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value > 0 ? "Inf" : "-Inf";
    if (value == 0.0f) return "0";
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.7G", static_cast<double>(value));
    std::string s(buf);
    std::string mantissa = s, exponent;
    if (const auto e = s.find('E'); e != std::string::npos) {
        mantissa = s.substr(0, e);
        exponent = s.substr(e);  // "E+07", "E-05"
    }
    if (mantissa.find('.') != std::string::npos) {
        while (!mantissa.empty() && mantissa.back() == '0') mantissa.pop_back();
        if (!mantissa.empty() && mantissa.back() == '.') mantissa.pop_back();
    }
    std::string out = mantissa + exponent;
    if (const auto p = out.find('.'); p != std::string::npos)
        out.replace(p, 1, decimal_point);
    return out;
}

}  // namespace tambrel

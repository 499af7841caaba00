#pragma once
// Number conversions shared by every subsystem: rounding to 16/32-bit integers,
// the two number forms used inside media commands, reading a reply as a number,
// and the text forms of numbers shown to the user.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tambrel {

// Nearest integer, halves to the even neighbour; nullopt when the result does not
// fit the target type (an overflow failure for the caller) or the value is not finite.
std::optional<int16_t> to_int16(double value);
std::optional<int32_t> to_int32(double value);

// Decimal digits preceded by one blank for zero and positive values, '-' for negatives.
std::string leading_blank(int32_t value);
// Decimal digits of the 32-bit value, no leading blank.
std::string plain(int32_t value);

// Reads the longest decimal number at the start of `text` after leading blanks:
// optional sign, digits, optional fraction, optional exponent. No number reads as 0.
// `consumed` (if given) receives the index just past the number (0 when none).
double read_number(std::string_view text, size_t* consumed = nullptr);

// A reply read as a frame count or position: read_number, then to_int16.
std::optional<int16_t> reply_as_int16(std::string_view reply);

// The whole text (blanks around it allowed) as a 16-bit integer, or nullopt when it is
// empty, holds anything but one number, or does not fit. `decimal_point` is accepted
// as the fraction separator besides '.'.
std::optional<int16_t> text_as_int16(std::string_view text, char32_t decimal_point = U'.');

// The format "#0": plain decimal integer, minus sign when negative.
std::string format_integer(int32_t value);

// General conversion of a single-precision number: at most 7 significant digits, no
// trailing zeros, no point for whole numbers, "0." before fractions below 1, exponent
// form ("1.5E-05", "1E+07") outside the plain range. `decimal_point` replaces '.'.
std::string format_single(float value, std::string_view decimal_point = ".");

}  // namespace tambrel

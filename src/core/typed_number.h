#pragma once
// What was typed into a text box, made ready for the number readers of core/numbers.h.

#include <QString>
#include <string>

namespace tambrel {

// The UTF-8 text the number readers take: Unicode compatibility forms become their
// plain forms (NFKC), so the full-width digits, signs, decimal point and blank that a
// Japanese input method types read exactly as their ASCII forms; the minus sign U+2212
// reads as '-'.
std::string typed_number_text(const QString& typed);

}  // namespace tambrel

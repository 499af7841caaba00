#pragma once
// The one-word form of a file path carried inside a media command. The path stays as
// it is (UTF-8 text, so a Japanese character costs three bytes, not nine); only the
// bytes that would end or split the word or the command are written as %XX: blanks,
// '%' and control bytes. Decoding takes %XX for any byte, so forms that escape more
// (as earlier versions wrote them) still name the same file.

#include <optional>
#include <string>
#include <string_view>

namespace tambrel::media {

std::string encode_command_path(std::string_view path);
// nullopt when a '%' is not followed by two hex digits.
std::optional<std::string> decode_command_path(std::string_view encoded);

}  // namespace tambrel::media

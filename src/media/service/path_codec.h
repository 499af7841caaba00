#pragma once
// The blank-free form of a file path carried inside a media command. Bytes that would
// break the command or are not plain ASCII (blank, '%', controls, bytes >= 0x7f) are
// written as %XX; decoding reverses it, so every path maps back to exactly itself.

#include <optional>
#include <string>
#include <string_view>

namespace tambrel::media {

std::string encode_command_path(std::string_view path);
// nullopt when a '%' is not followed by two hex digits.
std::optional<std::string> decode_command_path(std::string_view encoded);

}  // namespace tambrel::media

#pragma once

// Metadata of MP4/MOV files that libavformat's muxer cannot write the way phones do.

#include <optional>
#include <string>
#include <string_view>

namespace tambrel::clipgen {

// The muxer writes "mdta" metadata keys as text in moov/udta/meta; Android's MPEG4Writer
// writes them in a QuickTime-style moov/meta (no version and flags) and stores the
// slow-motion capture rate as a 32-bit big-endian float (well-known type 23). This rewrites
// the moov box that way, with the value of `key` (written by the muxer as the 4-character
// text mdta_placeholder) as that float. The moov box must be the file's last box, as the
// muxer writes it by default. Error text on failure.
inline constexpr std::string_view mdta_placeholder = "0000";
std::optional<std::string> store_mdta_float(const std::string& path, std::string_view key,
                                            float value);

}  // namespace tambrel::clipgen

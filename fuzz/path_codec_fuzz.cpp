// The one-word path form inside media commands: every byte string must come back as
// itself, the form must never hold a byte that ends or splits a command word, a path
// with nothing to escape stays as it is, and any text must decode without a fault.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "media/service/path_codec.h"

using namespace tambrel::media;

namespace {
void require(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "property broken: %s\n", what);
        std::abort();
    }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    const std::string form = encode_command_path(bytes);
    bool plain = true;
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        plain = plain && c > 0x20 && c != 0x7f && c != '%';
    }
    for (const char ch : form) {
        const auto c = static_cast<unsigned char>(ch);
        require(c > 0x20 && c != 0x7f, "form holds a blank or a control byte");
    }
    require(!plain || form == bytes, "a path with nothing to escape changed");
    require(form.size() <= 3 * size, "form longer than three bytes per byte");
    const auto back = decode_command_path(form);
    require(back && *back == bytes, "round trip lost the path");

    // The same bytes taken as a form: a decodable one re-encodes to a form of the same path.
    if (const auto decoded = decode_command_path(bytes)) {
        require(decoded->size() <= size, "decoding grew the text");
        const auto again = decode_command_path(encode_command_path(*decoded));
        require(again && *again == *decoded, "decoded path does not survive re-encoding");
    } else {
        require(bytes.find('%') != std::string_view::npos, "text without '%' refused");
    }
    return 0;
}

// Opening and stepping through mutated files of one container family besides AVI (see
// clip_fuzz.h for what is checked). Built once per family, each with its own seeds and
// corpus; TAMBREL_FUZZ_EXTENSION names the scratch copy as the family's files are named.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "clip_fuzz.h"

namespace {

// ASF shares its target with MPEG program streams; its files begin with this GUID.
constexpr std::array<uint8_t, 16> kAsfHeader{0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                             0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};

std::string_view extension_of(const uint8_t* data, size_t size) {
    if (size >= kAsfHeader.size() && std::equal(kAsfHeader.begin(), kAsfHeader.end(), data))
        return ".wmv";
    return TAMBREL_FUZZ_EXTENSION;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    tambrel::fuzzing::start_gui(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return tambrel::fuzzing::drive_clip({data, size}, extension_of(data, size));
}

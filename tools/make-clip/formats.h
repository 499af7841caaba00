#pragma once

// What each codec and container of make-clip is, and which combinations and phone/camera
// cases they take; not part of the public clip API.

extern "C" {
#include <libavutil/pixfmt.h>
}

#include <QSize>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "clipgen.h"

namespace tambrel::clipgen {

struct CodecInfo {
    Codec codec;
    std::string_view name;
    const char* encoder;  // nullptr: written directly, no encoder needed
    AVPixelFormat pixel_format;
    int size_multiple;  // encoded width and height must be multiples of this (padded)
    uint32_t fourcc;    // AVI only; 0: the AVI muxer's default tag for the codec
    bool even_size;     // chroma subsampled: odd sizes are refused rather than padded
    // The stream itself can carry a sample aspect ratio (VUI, VOL, sequence header, JFIF).
    bool stream_sar;
    // Frames may come at any time (no fixed rate in the bitstream).
    bool any_timing;
};

struct ContainerInfo {
    Container container;
    std::string_view label;  // "MP4"
    const char* muxer;
    std::span<const std::string_view> extensions;
    std::span<const Codec> codecs;  // what it holds, in the order --help lists them
    bool mov_family;                // display matrix
    bool metadata_keys;             // "mdta" metadata keys (not 3GP)
    bool container_sar;             // stores a sample aspect ratio of its own
    bool any_timing;                // per-frame timestamps (variable frame rate)
};

const CodecInfo& info_of(Codec codec);
const ContainerInfo& info_of(Container container);

// The 8-bit or 10-bit pixel format the encoder is fed for these options.
AVPixelFormat encoder_pixel_format(const ClipOptions& options, QSize size);

// Whether the 16:9 DV flag goes with the sample aspect ratio (DV only).
bool dv_widescreen(const ClipOptions& options);

// YUV of the newer containers: BT.709 tags where the stream can state them, the codec's own
// (BT.601, untagged) elsewhere; AVI stays untagged BT.601 as before. HDR: BT.2020.
struct ColourTags {
    AVColorPrimaries primaries = AVCOL_PRI_UNSPECIFIED;
    AVColorTransferCharacteristic transfer = AVCOL_TRC_UNSPECIFIED;
    AVColorSpace matrix = AVCOL_SPC_UNSPECIFIED;
};
ColourTags colour_tags(const ClipOptions& options);

// The container for the options' path; Avi when the path has no known extension (validate
// refuses those before anything is written).
Container container_of(const ClipOptions& options);

}  // namespace tambrel::clipgen

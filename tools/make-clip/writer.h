#pragma once

// Encoding and muxing a clip; not part of the public clip API.

#include <QSize>
#include <optional>
#include <string>

#include "clipgen.h"
#include "media/service/av_ptr.h"

namespace tambrel::clipgen {

// Opens the video encoder with the settings every clip of options.codec uses, for a stored
// picture of `size`. `global_header`: the container wants the codec headers out of band.
std::optional<std::string> open_video_encoder(const ClipOptions& options, QSize size,
                                              bool global_header, av::CodecPtr& out);

// Ends an encoder's stream and throws its last packets away, so that it can be freed: the
// SVT-AV1 wrapper hangs when freed before it has seen the end of its input, and also when
// the end comes before any picture; `fed` says whether it has had one.
void discard_encoder_output(AVCodecContext* ctx, bool fed);

// Writes the clip. `created` tells whether a file was created (and so must be removed when
// the write fails).
std::optional<std::string> write_clip_file(const ClipOptions& options, bool& created);

}  // namespace tambrel::clipgen

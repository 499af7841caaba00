#pragma once
// The code paths blend_rgb32 chooses between by processor, so tests can hold each of
// them to the same rule on any machine.

#include "compose/blend.h"

namespace tambrel::blend_paths {

enum class Path {
    Portable,  // plain loop, vectorised by the compiler for the baseline instruction set
    Avx2,      // eight pixels per step on x86-64 processors with AVX2
};

// Whether `path` is built in and the processor runs it.
bool available(Path path);

// blend_rgb32 on the given path; `path` must be available.
void blend_rgb32_on(Path path, uint32_t* composite, ptrdiff_t composite_stride_px,
                    const uint32_t* frame, ptrdiff_t frame_stride_px, int width, int height,
                    Priority priority, BackgroundBlock background = {});

}  // namespace tambrel::blend_paths

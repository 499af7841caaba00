// Opening and stepping through mutated AVI files (see clip_fuzz.h for what is checked).

#include <cstddef>
#include <cstdint>

#include "clip_fuzz.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    tambrel::fuzzing::start_gui(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return tambrel::fuzzing::drive_clip({data, size}, ".avi");
}

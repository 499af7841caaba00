// Writes the seed clips of fuzz_avi into a folder: tiny clips in every codec this
// machine can encode, with and without audio, so mutations start from real structure.

#include <cstdio>
#include <string>

#include "clipgen.h"

using namespace tambrel::clipgen;

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_avi_seeds FOLDER\n");
        return 2;
    }
    int written = 0;
    for (const Codec codec : all_codecs) {
        if (!codec_available(codec)) continue;
        for (const bool audio : {false, true}) {
            ClipOptions o;
            o.path = std::string(argv[1]) + "/" + std::string(codec_name(codec)) +
                     (audio ? "-audio" : "") + ".avi";
            o.codec = codec;
            o.width = 48;
            o.height = 48;
            o.frames = 8;
            o.keyframe_interval = 3;
            o.audio = audio;
            if (const auto error = write_clip(o)) {
                std::fprintf(stderr, "%s: %s\n", o.path.c_str(), error->c_str());
                return 1;
            }
            ++written;
        }
    }
    std::printf("%d seed clips\n", written);
    return written > 0 ? 0 : 1;
}

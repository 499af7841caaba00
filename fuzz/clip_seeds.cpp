// Writes the seed clips of a clip fuzz target into a folder: tiny make-clip clips of one
// container family in a few codecs and in the forms phones and cameras write (audio,
// B-frames, rotation, variable rate, HDR), so that mutations start from real structure.
//   fuzz_clip_seeds FAMILY FOLDER    FAMILY: avi, mp4, mkv, ts or ps_asf

#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "clipgen.h"

using namespace tambrel::clipgen;

namespace {

struct Seed {
    std::string name;  // file name; its extension picks the container
    Codec codec;
    std::function<void(ClipOptions&)> shape = [](ClipOptions&) {};
};

std::vector<Seed> avi_seeds() {
    // Every codec AVI clips were written with, with and without audio.
    std::vector<Seed> seeds;
    for (const Codec codec : all_codecs)
        for (const bool audio : {false, true})
            seeds.push_back({std::string(codec_name(codec)) + (audio ? "-audio" : "") + ".avi",
                             codec, [audio](ClipOptions& o) { o.audio = audio; }});
    return seeds;
}

std::vector<Seed> seeds_of(std::string_view family) {
    const auto audio = [](ClipOptions& o) { o.audio = true; };
    const auto vfr = [](ClipOptions& o) { o.vfr = true; };
    if (family == "avi") return avi_seeds();
    if (family == "mp4")
        return {
            {"h264-audio.mp4", Codec::H264, audio},
            {"hevc.mp4", Codec::Hevc},  // B-frames behind an edit list
            {"hevc10-hlg-rotated.mp4", Codec::Hevc10,
             [](ClipOptions& o) {
                 o.transfer = Transfer::Hlg;
                 o.rotation = 90;
                 o.capture_fps = 240;
             }},
            {"vp9-vfr.mp4", Codec::Vp9, vfr},
            {"av1.mp4", Codec::Av1},
            {"mjpeg-flipped.mov", Codec::Mjpeg,
             [](ClipOptions& o) {
                 o.rotation = 180;
                 o.hflip = true;
             }},
            {"prores-audio.mov", Codec::ProRes, audio},
            {"mpeg4.3gp", Codec::Mpeg4},
            {"h264-wide.m4v", Codec::H264,
             [](ClipOptions& o) {
                 o.sar = {4, 3};
             }},
        };
    if (family == "mkv")
        return {
            {"h264-audio.mkv", Codec::H264, audio},
            {"hevc-vfr.mkv", Codec::Hevc, vfr},
            {"mpeg2.mkv", Codec::Mpeg2},
            {"ffv1.mkv", Codec::Ffv1},
            {"mjpeg-wide.mkv", Codec::Mjpeg,
             [](ClipOptions& o) {
                 o.sar = {3, 2};
             }},
            {"vp8-audio.webm", Codec::Vp8, audio},
            {"vp9-pq.webm", Codec::Vp9, [](ClipOptions& o) { o.transfer = Transfer::Pq; }},
            {"av1.webm", Codec::Av1},
        };
    if (family == "ts")
        return {
            {"h264-audio.ts", Codec::H264, audio},
            {"mpeg2.ts", Codec::Mpeg2},
            {"hevc.ts", Codec::Hevc},
            {"hevc10-audio.m2ts", Codec::Hevc10, audio},
            {"h264-vfr.mts", Codec::H264, vfr},
        };
    if (family == "ps_asf")
        return {
            {"mpeg2.mpg", Codec::Mpeg2},
            {"mpeg2-audio.mpeg", Codec::Mpeg2, audio},
            {"wmv2.wmv", Codec::Wmv2},
            {"wmv2-audio.wmv", Codec::Wmv2, audio},
        };
    return {};
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<Seed> seeds = argc == 3 ? seeds_of(argv[1]) : std::vector<Seed>{};
    if (seeds.empty()) {
        std::fprintf(stderr, "usage: fuzz_clip_seeds avi|mp4|mkv|ts|ps_asf FOLDER\n");
        return 2;
    }
    int written = 0;
    for (const Seed& seed : seeds) {
        if (!codec_available(seed.codec)) continue;
        ClipOptions o;
        o.path = std::string(argv[2]) + "/" + seed.name;
        o.codec = seed.codec;
        // Small pictures and few frames, a key picture every third: several groups in a
        // few kilobytes. SVT-AV1 takes nothing under 64x64.
        o.width = o.height = seed.codec == Codec::Av1 ? 64 : 48;
        o.frames = 8;
        o.keyframe_interval = 3;
        seed.shape(o);
        if (const auto error = write_clip(o)) {
            std::fprintf(stderr, "%s: %s\n", o.path.c_str(), error->c_str());
            return 1;
        }
        ++written;
    }
    std::printf("%d seed clips\n", written);
    return written > 0 ? 0 : 1;
}

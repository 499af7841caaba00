// The codec and container tables, and the checks of which options go together.

#include "formats.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <numeric>

namespace tambrel::clipgen {

namespace {

constexpr uint32_t tag(char a, char b, char c, char d) {
    return static_cast<uint32_t>(static_cast<uint8_t>(a)) |
           static_cast<uint32_t>(static_cast<uint8_t>(b)) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(c)) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(d)) << 24;
}

// codec, name, encoder, pixel format, size multiple, AVI fourcc, even size, SAR in the
// stream, any timing
constexpr std::array<CodecInfo, 19> codec_table{{
    {Codec::RawBgr24, "raw", nullptr, AV_PIX_FMT_BGR24, 1, 0, false, false, false},
    {Codec::RawPal8, "pal8", nullptr, AV_PIX_FMT_PAL8, 1, 0, false, false, false},
    {Codec::Mjpeg, "mjpeg", "mjpeg", AV_PIX_FMT_YUVJ420P, 1, tag('M', 'J', 'P', 'G'), false, true,
     true},
    {Codec::Mpeg4, "mpeg4", "mpeg4", AV_PIX_FMT_YUV420P, 1, tag('F', 'M', 'P', '4'), false, true,
     true},
    {Codec::Mpeg4BFrames, "mpeg4-bframes", "mpeg4", AV_PIX_FMT_YUV420P, 1, tag('X', 'V', 'I', 'D'),
     false, true, false},
    {Codec::H264, "h264", "libx264", AV_PIX_FMT_YUV420P, 1, tag('H', '2', '6', '4'), false, true,
     true},
    {Codec::Ffv1, "ffv1", "ffv1", AV_PIX_FMT_BGR0, 1, tag('F', 'F', 'V', '1'), false, false, true},
    {Codec::HuffYuv, "huffyuv", "huffyuv", AV_PIX_FMT_RGB24, 1, tag('H', 'F', 'Y', 'U'), false,
     false, false},
    {Codec::MsVideo1, "msvideo1", "msvideo1", AV_PIX_FMT_RGB555LE, 4, tag('C', 'R', 'A', 'M'),
     false, false, false},
    {Codec::Cinepak, "cinepak", "cinepak", AV_PIX_FMT_RGB24, 4, tag('c', 'v', 'i', 'd'), false,
     false, false},
    {Codec::Hevc, "hevc", "libx265", AV_PIX_FMT_YUV420P, 1, 0, true, true, true},
    {Codec::Hevc10, "hevc10", "libx265", AV_PIX_FMT_YUV420P10LE, 1, 0, true, true, true},
    {Codec::Vp8, "vp8", "libvpx", AV_PIX_FMT_YUV420P, 1, 0, true, false, true},
    {Codec::Vp9, "vp9", "libvpx-vp9", AV_PIX_FMT_YUV420P, 1, 0, true, false, true},
    {Codec::Av1, "av1", "libsvtav1", AV_PIX_FMT_YUV420P, 1, 0, true, false, true},
    {Codec::Mpeg2, "mpeg2", "mpeg2video", AV_PIX_FMT_YUV420P, 1, 0, true, true, false},
    {Codec::ProRes, "prores", "prores_ks", AV_PIX_FMT_YUV422P10LE, 1, 0, true, false, true},
    {Codec::Dv, "dv", "dvvideo", AV_PIX_FMT_YUV411P, 1, tag('d', 'v', 's', 'd'), true, true, false},
    {Codec::Wmv2, "wmv2", "wmv2", AV_PIX_FMT_YUV420P, 1, 0, true, false, false},
}};

constexpr std::string_view avi_ext[] = {".avi"};
constexpr std::string_view mp4_ext[] = {".mp4"};
constexpr std::string_view m4v_ext[] = {".m4v"};
constexpr std::string_view mov_ext[] = {".mov"};
constexpr std::string_view gp3_ext[] = {".3gp"};
constexpr std::string_view mkv_ext[] = {".mkv"};
constexpr std::string_view webm_ext[] = {".webm"};
constexpr std::string_view ts_ext[] = {".ts"};
constexpr std::string_view m2ts_ext[] = {".m2ts", ".mts"};
constexpr std::string_view ps_ext[] = {".mpg", ".mpeg"};
constexpr std::string_view asf_ext[] = {".wmv"};

constexpr Codec avi_codecs[] = {Codec::RawBgr24,     Codec::RawPal8, Codec::Mjpeg, Codec::Mpeg4,
                                Codec::Mpeg4BFrames, Codec::H264,    Codec::Ffv1,  Codec::HuffYuv,
                                Codec::MsVideo1,     Codec::Cinepak, Codec::Dv};
constexpr Codec mp4_codecs[] = {Codec::H264,  Codec::Hevc, Codec::Hevc10,
                                Codec::Mpeg4, Codec::Vp9,  Codec::Av1};
constexpr Codec mov_codecs[] = {Codec::H264,  Codec::Hevc,   Codec::Hevc10, Codec::Mpeg4,
                                Codec::Mjpeg, Codec::ProRes, Codec::Dv};
constexpr Codec gp3_codecs[] = {Codec::H264, Codec::Mpeg4};
constexpr Codec mkv_codecs[] = {Codec::H264,  Codec::Hevc, Codec::Hevc10, Codec::Vp8,
                                Codec::Vp9,   Codec::Av1,  Codec::Mpeg4,  Codec::Mpeg2,
                                Codec::Mjpeg, Codec::Ffv1, Codec::ProRes};
constexpr Codec webm_codecs[] = {Codec::Vp8, Codec::Vp9, Codec::Av1};
constexpr Codec ts_codecs[] = {Codec::H264, Codec::Hevc, Codec::Hevc10, Codec::Mpeg2};
constexpr Codec ps_codecs[] = {Codec::Mpeg2};
constexpr Codec asf_codecs[] = {Codec::Wmv2};

// container, label, muxer, extensions, codecs, MOV family, metadata keys, SAR of its own,
// any timing
const std::array<ContainerInfo, 11> container_table{{
    {Container::Avi, "AVI", "avi", avi_ext, avi_codecs, false, false, false, false},
    {Container::Mp4, "MP4", "mp4", mp4_ext, mp4_codecs, true, true, true, true},
    {Container::M4v, "M4V", "ipod", m4v_ext, gp3_codecs, true, true, true, true},
    {Container::Mov, "QuickTime", "mov", mov_ext, mov_codecs, true, true, true, true},
    {Container::ThreeGp, "3GP", "3gp", gp3_ext, gp3_codecs, true, false, true, true},
    {Container::Matroska, "Matroska", "matroska", mkv_ext, mkv_codecs, false, false, true, true},
    {Container::WebM, "WebM", "webm", webm_ext, webm_codecs, false, false, true, true},
    {Container::MpegTs, "MPEG-TS", "mpegts", ts_ext, ts_codecs, false, false, false, true},
    {Container::M2ts, "MPEG-TS with 192-byte packets", "mpegts", m2ts_ext, ts_codecs, false, false,
     false, true},
    {Container::MpegPs, "MPEG-2 program stream", "vob", ps_ext, ps_codecs, false, false, false,
     false},
    {Container::Asf, "ASF", "asf", asf_ext, asf_codecs, false, false, false, false},
}};

std::string lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

std::string codec_list(std::span<const Codec> codecs) {
    std::string out;
    for (Codec codec : codecs) {
        if (!out.empty()) out += ", ";
        out += codec_name(codec);
    }
    return out;
}

std::string extension_list() {
    std::string out;
    for (const auto& info : container_table)
        for (std::string_view ext : info.extensions) {
            if (!out.empty()) out += " ";
            out += ext;
        }
    return out;
}

// MPEG-2 frame rates: the eight of the sequence header, times (n + 1) / (d + 1) with the
// sequence extension's n < 4 and d < 32.
bool mpeg2_rate(int num, int den) {
    static constexpr std::array<std::pair<int, int>, 8> base{
        {{24000, 1001}, {24, 1}, {25, 1}, {30000, 1001}, {30, 1}, {50, 1}, {60000, 1001}, {60, 1}}};
    for (auto [bn, bd] : base)
        for (int n = 0; n < 4; ++n)
            for (int d = 0; d < 32; ++d)
                if (static_cast<int64_t>(bn) * (n + 1) * den ==
                    static_cast<int64_t>(num) * bd * (d + 1))
                    return true;
    return false;
}

bool is_dv_ntsc(const ClipOptions& o) {
    return o.width == 720 && o.height == 480 && o.fps_num * 1001 == o.fps_den * 30000;
}
bool is_dv_pal(const ClipOptions& o) {
    return o.width == 720 && o.height == 576 && o.fps_num == 25 * o.fps_den;
}

// The sample aspect ratios DV streams carry, 4:3 and 16:9.
std::pair<Ratio, Ratio> dv_sars(const ClipOptions& o) {
    if (o.height == 576) return {{16, 15}, {64, 45}};
    return {{8, 9}, {32, 27}};
}

std::optional<std::string> check_sar(const ClipOptions& o, const CodecInfo& codec,
                                     const ContainerInfo& box) {
    const Ratio s = o.sar;
    if (s == Ratio{}) return std::nullopt;
    if (s.num <= 0 || s.den <= 0) return "sample aspect ratio must be N:D with N, D above 0";
    const double value = static_cast<double>(s.num) / s.den;
    if (value < 0.25 || value > 4) return "sample aspect ratio must be between 1:4 and 4:1";
    if (o.codec == Codec::Dv) {
        const auto [narrow, wide] = dv_sars(o);
        if (s.num * narrow.den != s.den * narrow.num && s.num * wide.den != s.den * wide.num)
            return "dv carries its own sample aspect ratio: " + std::to_string(narrow.num) + ":" +
                   std::to_string(narrow.den) + " (4:3) or " + std::to_string(wide.num) + ":" +
                   std::to_string(wide.den) + " (16:9)";
        return std::nullopt;
    }
    if (!box.container_sar && !codec.stream_sar)
        return "neither the " + std::string(box.label) + " container nor " +
               std::string(codec.name) + " can store a sample aspect ratio";
    if (box.container == Container::Avi)
        return "AVI clips keep square pixels (DV in AVI carries its own shape)";
    if ((box.container == Container::Matroska || box.container == Container::WebM) &&
        static_cast<int64_t>(o.width) * s.num % s.den != 0)
        return std::string(box.label) +
               " stores the shown width in whole pixels: width x N must be a multiple of D "
               "for a sample aspect ratio N:D";
    if (o.codec == Codec::Mpeg2 && s.num != s.den) {
        // The sequence header stores the display shape, not the pixel shape.
        const int64_t w = static_cast<int64_t>(o.width) * s.num,
                      h = static_cast<int64_t>(o.height) * s.den;
        if (w * 3 != h * 4 && w * 9 != h * 16 && w * 100 != h * 221)
            return "mpeg2 stores only the display shapes 4:3, 16:9 and 2.21:1: width x sample "
                   "aspect ratio / height must be one of them";
    }
    return std::nullopt;
}

}  // namespace

const CodecInfo& info_of(Codec codec) {
    for (const auto& info : codec_table)
        if (info.codec == codec) return info;
    return codec_table[0];
}

const ContainerInfo& info_of(Container container) {
    for (const auto& info : container_table)
        if (info.container == container) return info;
    return container_table[0];
}

std::string_view codec_name(Codec codec) { return info_of(codec).name; }

std::optional<Codec> codec_from_name(std::string_view name) {
    for (const auto& info : codec_table)
        if (info.name == name) return info.codec;
    return std::nullopt;
}

std::optional<Container> container_for_path(std::string_view path) {
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash))
        return std::nullopt;
    const std::string ext = lower(path.substr(dot));
    for (const auto& info : container_table)
        for (std::string_view known : info.extensions)
            if (known == ext) return info.container;
    return std::nullopt;
}

Container container_of(const ClipOptions& options) {
    return container_for_path(options.path).value_or(Container::Avi);
}

std::string container_description(Container container) {
    const ContainerInfo& info = info_of(container);
    std::string out(info.label);
    out += " (";
    for (size_t i = 0; i < info.extensions.size(); ++i)
        out += (i ? " " : "") + std::string(info.extensions[i]);
    return out + ")";
}

bool container_holds(Container container, Codec codec) {
    const auto& codecs = info_of(container).codecs;
    return std::find(codecs.begin(), codecs.end(), codec) != codecs.end();
}

QSize encoded_size(Codec codec, int width, int height) {
    const int m = info_of(codec).size_multiple;
    return {(width + m - 1) / m * m, (height + m - 1) / m * m};
}

Ratio effective_sar(const ClipOptions& options) {
    if (options.codec == Codec::Dv) {
        const auto [narrow, wide] = dv_sars(options);
        if (options.sar.num > 0 && options.sar.den > 0 &&
            options.sar.num * wide.den == options.sar.den * wide.num)
            return wide;
        return narrow;
    }
    if (options.sar.num > 0 && options.sar.den > 0) {
        Ratio r = options.sar;
        const int g = std::gcd(r.num, r.den);
        return {r.num / g, r.den / g};
    }
    return {1, 1};
}

bool dv_widescreen(const ClipOptions& options) {
    return options.codec == Codec::Dv && effective_sar(options) == dv_sars(options).second;
}

AVPixelFormat encoder_pixel_format(const ClipOptions& options, QSize size) {
    switch (options.codec) {
        case Codec::H264:
            // 4:2:0 needs even sizes; 4:4:4 keeps odd sizes exact.
            if (size.width() % 2 != 0 || size.height() % 2 != 0) return AV_PIX_FMT_YUV444P;
            break;
        case Codec::Vp9:
            if (options.transfer != Transfer::Sdr) return AV_PIX_FMT_YUV420P10LE;
            break;
        case Codec::Dv:
            return options.height == 576 ? AV_PIX_FMT_YUV420P : AV_PIX_FMT_YUV411P;
        default:
            break;
    }
    return info_of(options.codec).pixel_format;
}

ColourTags colour_tags(const ClipOptions& options) {
    if (options.transfer != Transfer::Sdr)
        return {AVCOL_PRI_BT2020,
                options.transfer == Transfer::Hlg ? AVCOL_TRC_ARIB_STD_B67 : AVCOL_TRC_SMPTE2084,
                AVCOL_SPC_BT2020_NCL};
    if (container_of(options) == Container::Avi) return {};
    switch (options.codec) {
        case Codec::H264:
        case Codec::Hevc:
        case Codec::Hevc10:
        case Codec::Vp9:
        case Codec::Av1:
        case Codec::Mpeg2:
        case Codec::ProRes:
            return {AVCOL_PRI_BT709, AVCOL_TRC_BT709, AVCOL_SPC_BT709};
        default:
            return {};
    }
}

std::optional<std::string> validate(const ClipOptions& o) {
    if (o.path.empty()) return "no output file given";
    const auto container = container_for_path(o.path);
    if (!container)
        return "cannot tell the container from the name '" + o.path + "': it must end in one of " +
               extension_list();
    const ContainerInfo& box = info_of(*container);
    const CodecInfo& codec = info_of(o.codec);
    if (o.width < 48 || o.height < 48 || o.width > 4096 || o.height > 4096)
        return "size " + std::to_string(o.width) + "x" + std::to_string(o.height) +
               " is outside 48x48 .. 4096x4096";
    if (o.fps_num <= 0 || o.fps_den <= 0) return "frame rate must be positive";
    if (static_cast<double>(o.fps_num) / o.fps_den > 1000.0) return "frame rate above 1000";
    if (o.frames < 1 || o.frames > max_frame_number + 1)
        return "frame count must be 1 .. " + std::to_string(max_frame_number + 1);
    if (o.keyframe_interval < 1) return "key frame interval must be at least 1";

    if (!container_holds(*container, o.codec))
        return "the " + container_description(*container) + " container cannot hold " +
               std::string(codec.name) + "; it holds " + codec_list(box.codecs);
    if (codec.even_size && (o.width % 2 != 0 || o.height % 2 != 0))
        return std::string(codec.name) + " needs an even width and height";
    if (o.codec == Codec::Av1 && (o.width < 64 || o.height < 64))
        return "av1 (SVT-AV1) needs at least 64x64";
    if (o.codec == Codec::Dv && !is_dv_ntsc(o) && !is_dv_pal(o))
        return "dv is 720x480 at 30000/1001 fps or 720x576 at 25 fps";
    if (o.codec == Codec::Mpeg2 && !mpeg2_rate(o.fps_num, o.fps_den))
        return "mpeg2 cannot state " + std::to_string(o.fps_num) + "/" + std::to_string(o.fps_den) +
               " fps (it takes 24000/1001, 24, 25, 30000/1001, 30, 50, 60000/1001, 60 and "
               "some multiples and fractions of them)";

    if (o.rotation != 0 && o.rotation != 90 && o.rotation != 180 && o.rotation != 270)
        return "rotation must be 0, 90, 180 or 270 degrees";
    if ((o.rotation != 0 || o.hflip) && !box.mov_family)
        return "only MP4, M4V, QuickTime and 3GP store a display rotation or flip";
    if (auto error = check_sar(o, codec, box)) return error;
    const QSize shown = display_size(o);
    if (shown.width() > 8192 || shown.height() > 8192)
        return "the picture shown would be larger than 8192x8192";
    if (o.vfr) {
        if (!box.any_timing)
            return "the " + std::string(box.label) + " container has a fixed frame rate";
        if (!codec.any_timing) return std::string(codec.name) + " has a fixed frame rate";
        if (static_cast<double>(o.fps_num) / o.fps_den > 400)
            return "variable frame rate needs a nominal rate of at most 400 fps";
    }
    if (o.transfer != Transfer::Sdr && o.codec != Codec::Hevc10 && o.codec != Codec::Vp9)
        return "HLG and PQ need 10 bits: use --codec hevc10 or vp9";
    if (o.capture_fps != 0) {
        if (!(o.capture_fps > 0) || !std::isfinite(o.capture_fps) || o.capture_fps > 100000)
            return "capture rate must be above 0";
        if (!box.metadata_keys) return "only MP4, M4V and QuickTime store a capture rate";
    }

    switch (o.motion) {
        case Motion::Pendulum:
            if (!(o.pendulum_length_m > 0) || !std::isfinite(o.pendulum_length_m))
                return "pendulum length must be positive";
            if (!(std::abs(o.amplitude_deg) < 180)) return "amplitude must be under 180 degrees";
            break;
        case Motion::Fall:
            if (!(o.fall_g > 0) || !std::isfinite(o.fall_g)) return "g must be positive";
            break;
        case Motion::Linear:
            if (!std::isfinite(o.velocity.x()) || !std::isfinite(o.velocity.y()))
                return "velocity must be finite";
            break;
        case Motion::Bob:
            break;
    }
    if ((o.motion == Motion::Pendulum || o.motion == Motion::Fall) &&
        (!(o.pixels_per_metre > 0) || !std::isfinite(o.pixels_per_metre)))
        return "scale must be positive";
    if (o.start && (!std::isfinite(o.start->x()) || !std::isfinite(o.start->y())))
        return "start position must be finite";
    return std::nullopt;
}

}  // namespace tambrel::clipgen

#include "avi_bytes.h"

#include <QFile>
#include <algorithm>
#include <cstring>

namespace tambrel::robustness {

namespace {

void put32(QByteArray& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.append(static_cast<char>((v >> (8 * i)) & 0xff));
}
void put16(QByteArray& b, uint16_t v) {
    b.append(static_cast<char>(v & 0xff));
    b.append(static_cast<char>(v >> 8));
}
void put_code(QByteArray& b, const char* code) { b.append(code, 4); }

QByteArray chunk(const char* code, const QByteArray& body) {
    QByteArray c;
    put_code(c, code);
    put32(c, static_cast<uint32_t>(body.size()));
    c.append(body);
    if (body.size() % 2) c.append('\0');
    return c;
}

QByteArray list(const char* type, const QByteArray& body, const char* code = "LIST") {
    QByteArray b;
    put_code(b, type);
    b.append(body);
    QByteArray c;
    put_code(c, code);
    put32(c, static_cast<uint32_t>(b.size()));
    c.append(b);
    return c;
}

uint32_t get32(const QByteArray& b, qsizetype at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(b[at + i]);
    return v;
}

constexpr int kSampleRate = 8000;

// A picture as an uncompressed AVI stores it: rows bottom-up, blue, green, red, each
// row padded to four bytes.
QByteArray dib_rows(const QImage& picture, int width, int height) {
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB888);
    const int stride = (width * 3 + 3) / 4 * 4;
    QByteArray rows(stride * height, '\0');
    for (int y = 0; y < std::min(height, rgb.height()); ++y) {
        const uchar* from = rgb.constScanLine(y);
        char* to = rows.data() + (height - 1 - y) * stride;
        for (int x = 0; x < std::min(width, rgb.width()); ++x) {
            to[3 * x] = static_cast<char>(from[3 * x + 2]);
            to[3 * x + 1] = static_cast<char>(from[3 * x + 1]);
            to[3 * x + 2] = static_cast<char>(from[3 * x]);
        }
    }
    return rows;
}

}  // namespace

QByteArray raw_avi(const RawAvi& s) {
    const int stride = (s.width * 3 + 3) / 4 * 4;
    const int frame_bytes = stride * s.height;
    const int audio_bytes = 2 * kSampleRate / s.fps;  // one frame's worth of 16-bit mono
    const uint32_t claimed_frames = s.header_frames.value_or(static_cast<uint32_t>(s.frames));
    const int32_t claimed_w = s.header_width.value_or(s.width);
    const int32_t claimed_h = s.header_height.value_or(s.height);

    QByteArray avih;
    put32(avih, 1000000 / s.fps);
    put32(avih, static_cast<uint32_t>((frame_bytes + audio_bytes) * s.fps));
    put32(avih, 0);
    put32(avih, s.index ? 0x10 : 0);  // AVIF_HASINDEX
    put32(avih, claimed_frames);
    put32(avih, 0);
    put32(avih, (s.video ? 1 : 0) + (s.audio ? 1 : 0));
    put32(avih, static_cast<uint32_t>(frame_bytes));
    put32(avih, static_cast<uint32_t>(claimed_w));
    put32(avih, static_cast<uint32_t>(claimed_h));
    for (int i = 0; i < 4; ++i) put32(avih, 0);

    QByteArray streams;
    if (s.video) {
        QByteArray strh;
        put_code(strh, "vids");
        put_code(strh, "DIB ");
        put32(strh, 0);
        put16(strh, 0);
        put16(strh, 0);
        put32(strh, 0);
        put32(strh, 1);      // scale
        put32(strh, s.fps);  // rate
        put32(strh, 0);      // start
        put32(strh, claimed_frames);
        put32(strh, static_cast<uint32_t>(frame_bytes));
        put32(strh, 0xffffffffu);
        put32(strh, 0);
        put16(strh, 0), put16(strh, 0), put16(strh, static_cast<uint16_t>(claimed_w)),
            put16(strh, static_cast<uint16_t>(claimed_h));
        QByteArray strf;
        put32(strf, 40);
        put32(strf, static_cast<uint32_t>(claimed_w));
        put32(strf, static_cast<uint32_t>(claimed_h));
        put16(strf, 1);
        put16(strf, 24);
        put32(strf, 0);  // BI_RGB
        put32(strf, static_cast<uint32_t>(frame_bytes));
        for (int i = 0; i < 4; ++i) put32(strf, 0);
        streams += list("strl", chunk("strh", strh) + chunk("strf", strf));
    }
    if (s.audio) {
        QByteArray strh;
        put_code(strh, "auds");
        put32(strh, 0);
        put32(strh, 0);
        put16(strh, 0);
        put16(strh, 0);
        put32(strh, 0);
        put32(strh, 2);                // scale: block align
        put32(strh, 2 * kSampleRate);  // rate: bytes per second
        put32(strh, 0);
        put32(strh, static_cast<uint32_t>(s.frames * audio_bytes / 2));
        put32(strh, static_cast<uint32_t>(audio_bytes));
        put32(strh, 0xffffffffu);
        put32(strh, 2);
        for (int i = 0; i < 4; ++i) put16(strh, 0);
        QByteArray strf;
        put16(strf, 1);  // PCM
        put16(strf, 1);
        put32(strf, kSampleRate);
        put32(strf, 2 * kSampleRate);
        put16(strf, 2);
        put16(strf, 16);
        put16(strf, 0);
        streams += list("strl", chunk("strh", strh) + chunk("strf", strf));
    }
    const QByteArray hdrl = list("hdrl", chunk("avih", avih) + streams);

    QByteArray movi_body, idx;
    const char* video_code = "00db";
    const char* audio_code = s.video ? "01wb" : "00wb";
    for (int k = 0; k < s.frames; ++k) {
        if (s.video) {
            const QByteArray picture =
                s.picture ? dib_rows(s.picture(k), s.width, s.height)
                          : QByteArray(frame_bytes, static_cast<char>(raw_grey(k)));
            put_code(idx, video_code);
            put32(idx, 0x10);  // key frame
            put32(idx, static_cast<uint32_t>(4 + movi_body.size()));
            put32(idx, static_cast<uint32_t>(frame_bytes));
            movi_body += chunk(video_code, picture);
        }
        if (s.audio) {
            const QByteArray sound(audio_bytes, '\0');
            put_code(idx, audio_code);
            put32(idx, 0x10);
            put32(idx, static_cast<uint32_t>(4 + movi_body.size()));
            put32(idx, static_cast<uint32_t>(audio_bytes));
            movi_body += chunk(audio_code, sound);
        }
    }
    QByteArray body = hdrl + list("movi", movi_body);
    if (s.index) body += chunk("idx1", idx);
    return list("AVI ", body, "RIFF");
}

uint32_t chunk_size(const QByteArray& avi, qsizetype offset) { return get32(avi, offset + 4); }

namespace {
// Walks the chunks in [begin, end), descending into RIFF and LIST.
std::optional<qsizetype> walk(const QByteArray& avi, qsizetype begin, qsizetype end,
                              const char code[4], std::vector<qsizetype>* video) {
    qsizetype at = begin;
    while (at + 8 <= end) {
        const char* c = avi.constData() + at;
        const qsizetype size = get32(avi, at + 4);
        if (std::memcmp(c, code, 4) == 0) return at;
        if (video && (std::memcmp(c, "00dc", 4) == 0 || std::memcmp(c, "00db", 4) == 0))
            video->push_back(at);
        if (std::memcmp(c, "RIFF", 4) == 0 || std::memcmp(c, "LIST", 4) == 0) {
            if (at + 12 <= end && std::memcmp(c + 8, code, 4) == 0) return at + 8;
            if (const auto found = walk(avi, at + 12, std::min(end, at + 8 + size), code, video))
                return found;
        }
        at += 8 + size + (size % 2);
    }
    return std::nullopt;
}
}  // namespace

std::optional<qsizetype> find_chunk(const QByteArray& avi, const char fourcc[4]) {
    return walk(avi, 0, avi.size(), fourcc, nullptr);
}

std::vector<qsizetype> video_chunks(const QByteArray& avi) {
    std::vector<qsizetype> found;
    walk(avi, 0, avi.size(), "\xff\xff\xff\xff", &found);
    return found;
}

bool write_file(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

QByteArray read_file(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace tambrel::robustness

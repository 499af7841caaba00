// A small ISO base media box walk: just enough to find and move one metadata box in moov.

#include "mp4_tags.h"

#include <bit>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <vector>

namespace tambrel::clipgen {

namespace {

uint32_t read_u32(const std::vector<char>& bytes, size_t at) {
    return static_cast<uint32_t>(static_cast<uint8_t>(bytes[at])) << 24 |
           static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 1])) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 2])) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 3]));
}

void write_u32(std::vector<char>& bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(value >> (24 - 8 * i));
}

void append_u32(std::vector<char>& bytes, uint32_t value) {
    bytes.resize(bytes.size() + 4);
    write_u32(bytes, bytes.size() - 4, value);
}

void append(std::vector<char>& bytes, const std::vector<char>& from, size_t begin, size_t end) {
    bytes.insert(bytes.end(), from.begin() + static_cast<ptrdiff_t>(begin),
                 from.begin() + static_cast<ptrdiff_t>(end));
}

struct Box {
    size_t start = 0, body = 0, end = 0;  // offsets into the buffer
};

// The child of type `type` among the boxes in [from, to); nullopt when absent or malformed.
std::optional<Box> find_child(const std::vector<char>& bytes, size_t from, size_t to,
                              std::string_view type) {
    size_t at = from;
    while (at + 8 <= to) {
        const uint32_t size = read_u32(bytes, at);
        if (size < 8 || at + size > to) return std::nullopt;  // no 64-bit sizes inside moov
        if (std::string_view(&bytes[at + 4], 4) == type) return Box{at, at + 8, at + size};
        at += size;
    }
    return std::nullopt;
}

// Where the last top-level box starts, and its type; nullopt for a damaged file.
std::optional<std::pair<int64_t, std::string>> last_box(std::fstream& file, int64_t file_size) {
    int64_t at = 0;
    std::optional<std::pair<int64_t, std::string>> last;
    while (at + 8 <= file_size) {
        std::vector<char> header(16);
        file.seekg(at);
        file.read(header.data(), 8);
        uint64_t size = read_u32(header, 0);
        if (size == 1) {
            file.read(header.data() + 8, 8);
            size = static_cast<uint64_t>(read_u32(header, 8)) << 32 | read_u32(header, 12);
        } else if (size == 0) {
            size = static_cast<uint64_t>(file_size - at);
        }
        if (!file || size < 8 || at + static_cast<int64_t>(size) > file_size) return std::nullopt;
        last = std::pair{at, std::string(&header[4], 4)};
        at += static_cast<int64_t>(size);
    }
    if (at != file_size) return std::nullopt;
    return last;
}

// The metadata box with the float in place and no version and flags.
std::optional<std::vector<char>> android_meta(const std::vector<char>& moov, const Box& meta,
                                              std::string_view key, float value) {
    // ISO meta has version and flags before its children, QuickTime's has not: find hdlr.
    size_t children = meta.body;
    if (children + 8 <= meta.end && std::string_view(&moov[children + 4], 4) != "hdlr")
        children += 4;
    const auto keys = find_child(moov, children, meta.end, "keys");
    const auto ilst = find_child(moov, children, meta.end, "ilst");
    if (!keys || !ilst) return std::nullopt;

    // keys: version and flags, entry count, then (size, namespace, name) per key.
    uint32_t index = 0;
    size_t entry = keys->body + 8;
    const uint32_t count = keys->body + 8 <= keys->end ? read_u32(moov, keys->body + 4) : 0;
    for (uint32_t k = 1; k <= count && entry + 8 <= keys->end; ++k) {
        const uint32_t size = read_u32(moov, entry);
        if (size < 8 || entry + size > keys->end) break;
        if (std::string_view(&moov[entry + 4], 4) == "mdta" &&
            std::string_view(&moov[entry + 8], size - 8) == key) {
            index = k;
            break;
        }
        entry += size;
    }
    if (index == 0) return std::nullopt;

    // ilst items are typed by the 1-based key index; their data box: type, locale, value.
    char item_type[4];
    for (int i = 0; i < 4; ++i) item_type[i] = static_cast<char>(index >> (24 - 8 * i));
    const auto item = find_child(moov, ilst->body, ilst->end, std::string_view(item_type, 4));
    if (!item) return std::nullopt;
    const auto data = find_child(moov, item->body, item->end, "data");
    if (!data || data->end - data->body != 8 + mdta_placeholder.size() ||
        read_u32(moov, data->body) != 1 ||
        std::string_view(&moov[data->body + 8], mdta_placeholder.size()) != mdta_placeholder)
        return std::nullopt;

    std::vector<char> out;
    append_u32(out, static_cast<uint32_t>(8 + meta.end - children));
    out.insert(out.end(), {'m', 'e', 't', 'a'});
    const size_t shift = out.size() - children;  // where meta's children land in `out`
    append(out, moov, children, meta.end);
    write_u32(out, data->body + shift, 23);  // well-known type: big-endian float32
    write_u32(out, data->body + 8 + shift, std::bit_cast<uint32_t>(value));
    return out;
}

}  // namespace

std::optional<std::string> store_mdta_float(const std::string& path, std::string_view key,
                                            float value) {
    const std::string what = "the capture rate in " + path;
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    if (!file) return "cannot reopen " + path + " to store " + std::string(key);
    file.seekg(0, std::ios::end);
    const int64_t file_size = file.tellg();
    const auto last = last_box(file, file_size);
    if (!last || last->second != "moov") return "cannot store " + what + ": moov is not last";
    const int64_t moov_at = last->first;
    if (file_size - moov_at > (64 << 20)) return "cannot store " + what + ": moov too large";
    std::vector<char> moov(static_cast<size_t>(file_size - moov_at));
    file.clear();
    file.seekg(moov_at);
    file.read(moov.data(), static_cast<std::streamsize>(moov.size()));
    if (!file || read_u32(moov, 0) != moov.size()) return "cannot read the moov box of " + path;

    const auto udta = find_child(moov, 8, moov.size(), "udta");
    const auto meta = udta ? find_child(moov, udta->body, udta->end, "meta") : std::nullopt;
    if (!meta) return "cannot store " + what + ": no metadata keys";
    const auto moved = android_meta(moov, *meta, key, value);
    if (!moved) return "cannot store " + what + ": no placeholder for " + std::string(key);

    // moov: its children but udta, udta without meta (dropped when empty), then meta.
    std::vector<char> out(8);
    out[4] = 'm', out[5] = 'o', out[6] = 'o', out[7] = 'v';
    append(out, moov, 8, udta->start);
    const size_t udta_rest = (meta->start - udta->body) + (udta->end - meta->end);
    if (udta_rest > 0) {
        append_u32(out, static_cast<uint32_t>(8 + udta_rest));
        out.insert(out.end(), {'u', 'd', 't', 'a'});
        append(out, moov, udta->body, meta->start);
        append(out, moov, meta->end, udta->end);
    }
    append(out, moov, udta->end, moov.size());
    out.insert(out.end(), moved->begin(), moved->end());
    write_u32(out, 0, static_cast<uint32_t>(out.size()));

    file.seekp(moov_at);
    file.write(out.data(), static_cast<std::streamsize>(out.size()));
    file.close();
    if (!file) return "cannot write " + path;
    std::error_code error;
    std::filesystem::resize_file(path, static_cast<uintmax_t>(moov_at) + out.size(), error);
    if (error) return "cannot write " + path + ": " + error.message();
    return std::nullopt;
}

}  // namespace tambrel::clipgen

#include "packed_bframes.h"

#include <algorithm>
#include <string_view>

namespace tambrel::clipgen {

namespace {

constexpr uint8_t vop_start = 0xB6;
constexpr uint8_t user_data_start = 0xB2;

// Position of the next start code prefix 00 00 01 at or after `from`, or size().
size_t next_start_code(std::span<const uint8_t> data, size_t from) {
    for (size_t i = from; i + 3 < data.size(); ++i)
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) return i;
    return data.size();
}

size_t find_start_code(std::span<const uint8_t> data, uint8_t code) {
    for (size_t i = next_start_code(data, 0); i < data.size(); i = next_start_code(data, i + 3))
        if (data[i + 3] == code) return i;
    return data.size();
}

bool has_vol_header(std::span<const uint8_t> data) {
    for (size_t i = next_start_code(data, 0); i < data.size(); i = next_start_code(data, i + 3))
        if ((data[i + 3] & 0xF0) == 0x20) return true;
    return false;
}

class BitWriter {
public:
    void put(uint32_t value, int bits) {
        for (int b = bits - 1; b >= 0; --b) {
            if (fill_ == 0) bytes_.push_back(0);
            if ((value >> b) & 1) bytes_.back() |= static_cast<uint8_t>(0x80 >> fill_);
            fill_ = (fill_ + 1) % 8;
        }
    }
    // MPEG-4 next_start_code(): one zero bit, then ones up to the byte boundary.
    void stuff() {
        put(0, 1);
        while (fill_ != 0) put(1, 1);
    }
    std::vector<uint8_t> take() { return std::move(bytes_); }

private:
    std::vector<uint8_t> bytes_;
    int fill_ = 0;
};

}  // namespace

char mpeg4_vop_type(std::span<const uint8_t> data) {
    const size_t at = find_start_code(data, vop_start);
    if (at + 4 >= data.size()) return 0;
    static constexpr char types[] = {'I', 'P', 'B', 'S'};
    return types[data[at + 4] >> 6];
}

std::vector<uint8_t> mpeg4_insert_user_data(std::span<const uint8_t> data, std::string_view text) {
    std::vector<uint8_t> out(data.begin(), data.end());
    if (!has_vol_header(data)) return out;
    const size_t at = find_start_code(data, vop_start);
    if (at >= data.size()) return out;
    std::vector<uint8_t> user = {0, 0, 1, user_data_start};
    user.insert(user.end(), text.begin(), text.end());
    out.insert(out.begin() + static_cast<std::ptrdiff_t>(at), user.begin(), user.end());
    return out;
}

std::vector<uint8_t> mpeg4_not_coded_vop(int time_resolution, int64_t time_units) {
    // The encoder codes vop_time_increment with just enough bits for resolution - 1.
    int bits = 1;
    while (bits < 16 && (1 << bits) < time_resolution) ++bits;
    BitWriter w;
    w.put(0x000001B6, 32);
    w.put(1, 2);  // P
    // Readers skip these VOPs (they only fill a slot), so no whole seconds are carried.
    w.put(0, 1);  // modulo_time_base
    w.put(1, 1);  // marker
    w.put(static_cast<uint32_t>(time_units % time_resolution), bits);
    w.put(1, 1);  // marker
    w.put(0, 1);  // vop_coded
    w.stuff();
    return w.take();
}

void BFramePacker::append(std::vector<PackedChunk>& out, PackedChunk chunk) {
    out.push_back(std::move(chunk));
    ++slots_;
}

void BFramePacker::close_group(std::vector<PackedChunk>& out) {
    if (holding_) {
        holding_ = false;
        append(out, std::move(held_));
        held_ = {};
    } else if (group_b_frames_ > 0) {
        // The group's reference rode with its first B-frame; one slot is still owed.
        const int64_t time = static_cast<int64_t>(slots_) * time_per_slot_;
        append(out, {mpeg4_not_coded_vop(time_resolution_, time), false});
    }
    group_b_frames_ = 0;
}

std::vector<PackedChunk> BFramePacker::push(std::span<const uint8_t> packet, bool key) {
    std::vector<PackedChunk> out;
    if (mpeg4_vop_type(packet) == 'B') {
        if (holding_) {
            holding_ = false;
            held_.data.insert(held_.data.end(), packet.begin(), packet.end());
            append(out, std::move(held_));
            held_ = {};
        } else {
            append(out, {std::vector<uint8_t>(packet.begin(), packet.end()), false});
        }
        ++group_b_frames_;
        return out;
    }
    close_group(out);
    held_ = {std::vector<uint8_t>(packet.begin(), packet.end()), key};
    holding_ = true;
    return out;
}

std::vector<PackedChunk> BFramePacker::finish() {
    std::vector<PackedChunk> out;
    close_group(out);
    return out;
}

}  // namespace tambrel::clipgen

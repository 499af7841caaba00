#pragma once

// MPEG-4 Part 2 B-frames stored the way DivX 5 and Xvid store them in AVI ("packed"): one
// chunk per frame slot, a reference frame travels together with the first B-frame that
// follows it in coding order, and a tiny not-coded VOP fills the slot left over. Readers
// either unpack the chunks (mpeg4_unpack_bframes) or rely on the "DivX...p" user data.

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace tambrel::clipgen {

struct PackedChunk {
    std::vector<uint8_t> data;
    bool key = false;
};

// Type of the first VOP in an MPEG-4 packet: 'I', 'P', 'B', 'S', or 0 when there is none.
char mpeg4_vop_type(std::span<const uint8_t> data);

// Inserts user data `text` before the first VOP of a packet that carries a VOL header.
std::vector<uint8_t> mpeg4_insert_user_data(std::span<const uint8_t> data, std::string_view text);

// A not-coded P-VOP stamped with the given time (in units of 1/time_resolution seconds).
std::vector<uint8_t> mpeg4_not_coded_vop(int time_resolution, int64_t time_units);

class BFramePacker {
public:
    explicit BFramePacker(int time_resolution, int time_per_slot)
        : time_resolution_(time_resolution), time_per_slot_(time_per_slot) {}

    // Takes the encoder's packets in coding order; returns chunks in slot order.
    std::vector<PackedChunk> push(std::span<const uint8_t> packet, bool key);
    // After the encoder is drained: closes the last group.
    std::vector<PackedChunk> finish();
    int slot_count() const { return slots_; }

private:
    void close_group(std::vector<PackedChunk>& out);
    void append(std::vector<PackedChunk>& out, PackedChunk chunk);

    int time_resolution_;
    int time_per_slot_;
    int slots_ = 0;
    bool holding_ = false;  // a reference frame waits for its first B-frame
    PackedChunk held_;
    int group_b_frames_ = 0;
};

}  // namespace tambrel::clipgen

// Packing MPEG-4 B-frames into AVI chunks the DivX/Xvid way.

#include "packed_bframes.h"

#include <gtest/gtest.h>

#include <string>

namespace tambrel::clipgen {
namespace {

// A stand-in encoder packet: a VOP start code whose coding type is `type`, then payload
// bytes that name the frame.
std::vector<uint8_t> vop(char type, uint8_t name) {
    const uint8_t bits = type == 'I' ? 0x00 : type == 'P' ? 0x40 : 0x80;
    return {0, 0, 1, 0xB6, static_cast<uint8_t>(bits | 0x10), name, name, name, name, name};
}

// Which named frames a chunk carries, "-" for a not-coded VOP.
std::string describe(const PackedChunk& chunk) {
    if (chunk.data.size() <= 7) return "-";
    std::string names;
    for (size_t i = 0; i + 5 < chunk.data.size(); ++i)
        if (chunk.data[i] == 0 && chunk.data[i + 1] == 0 && chunk.data[i + 2] == 1 &&
            chunk.data[i + 3] == 0xB6)
            names += static_cast<char>(chunk.data[i + 5]);
    return names;
}

TEST(BFramePacker, EverySlotGetsOneChunkWithReferencesRidingWithTheirFirstBFrame) {
    // Display order I0 B1 B2 P3 B4 P5 P6 B7 B8 P9; coding order below.
    const std::vector<std::pair<char, char>> coded = {
        {'I', '0'}, {'P', '3'}, {'B', '1'}, {'B', '2'}, {'P', '5'},
        {'B', '4'}, {'P', '6'}, {'P', '9'}, {'B', '7'}, {'B', '8'}};
    BFramePacker packer(30, 1);
    std::vector<PackedChunk> chunks;
    for (auto [type, name] : coded) {
        auto out = packer.push(vop(type, static_cast<uint8_t>(name)), type == 'I');
        chunks.insert(chunks.end(), out.begin(), out.end());
    }
    auto rest = packer.finish();
    chunks.insert(chunks.end(), rest.begin(), rest.end());

    std::vector<std::string> seen;
    for (const auto& chunk : chunks) seen.push_back(describe(chunk));
    const std::vector<std::string> expected = {"0", "31", "2", "-", "54", "-", "6", "97", "8", "-"};
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(packer.slot_count(), 10);
    ASSERT_EQ(chunks.size(), 10u);
    EXPECT_TRUE(chunks[0].key);
    for (size_t i = 1; i < chunks.size(); ++i) EXPECT_FALSE(chunks[i].key) << i;
}

TEST(BFramePacker, NotCodedVopIsAShortPVopWithItsTimeAndNoPicture) {
    // 30 fps: 5 bits of time increment. 7 ticks into the second.
    const auto nvop = mpeg4_not_coded_vop(30, 37);
    ASSERT_EQ(nvop.size(), 6u);  // short enough for readers to treat as a placeholder
    EXPECT_EQ(std::vector<uint8_t>(nvop.begin(), nvop.begin() + 4),
              (std::vector<uint8_t>{0, 0, 1, 0xB6}));
    EXPECT_EQ(mpeg4_vop_type(nvop), 'P');
    // 01 (P) 0 (no whole seconds) 1 (marker) 00111 (7) 1 (marker) 0 (not coded) 01111 stuffing
    EXPECT_EQ(nvop[4], 0b01010011);
    EXPECT_EQ(nvop[5], 0b11001111);
    // NTSC time base: 15 bits of increment still fit a 7-byte placeholder.
    EXPECT_EQ(mpeg4_not_coded_vop(30000, 1001 * 45).size(), 7u);
}

TEST(BFramePacker, UserDataGoesBeforeTheFirstVopOnlyWhenAHeaderIsPresent) {
    const std::vector<uint8_t> with_vol = {0, 0, 1, 0x20, 0xAA, 0, 0, 1, 0xB6, 0x10, 0x55};
    const auto marked = mpeg4_insert_user_data(with_vol, "DivX999b000p");
    const std::vector<uint8_t> expected_head = {0, 0, 1, 0x20, 0xAA, 0, 0, 1, 0xB2};
    ASSERT_EQ(marked.size(), with_vol.size() + 4 + 12);
    EXPECT_TRUE(std::equal(expected_head.begin(), expected_head.end(), marked.begin()));
    EXPECT_EQ(std::string(marked.begin() + 9, marked.begin() + 21), "DivX999b000p");
    EXPECT_EQ(mpeg4_vop_type(marked), 'I');
    const auto plain = vop('P', 1);
    EXPECT_EQ(mpeg4_insert_user_data(plain, "DivX999b000p"), plain);
}

}  // namespace
}  // namespace tambrel::clipgen

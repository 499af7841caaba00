// The step-back cache on its own: which pictures it keeps around a focus, its byte bound,
// and its share of a memory budget.

#include "media/service/picture_cache.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "media/service/memory_budget.h"

namespace tambrel::media {
namespace {

// A picture that knows its frame, so that an answer can be checked against the question.
using Picture = std::shared_ptr<const int64_t>;
using Cache = PictureCache<Picture>;

Picture picture(int64_t frame) { return std::make_shared<const int64_t>(frame); }

std::vector<int64_t> kept(const Cache& cache, int64_t from, int64_t to) {
    std::vector<int64_t> frames;
    for (int64_t n = from; n <= to; ++n)
        if (const Picture* p = cache.find(n)) {
            EXPECT_EQ(**p, n);
            frames.push_back(n);
        }
    return frames;
}

TEST(PictureCache, ThePictureFarthestFromTheFocusMakesRoom) {
    MemoryBudget budget(size_t{1} << 30);
    Cache cache(budget, 300);  // three pictures of 100 bytes
    // Decoding forward towards frame 10: the earliest picture goes first.
    for (int64_t n = 7; n <= 10; ++n) cache.put(n, picture(n), 100, 10);
    EXPECT_EQ(kept(cache, 0, 20), (std::vector<int64_t>{8, 9, 10}));
    // Decoding again from an earlier start towards frame 6: now the latest picture is the
    // farthest and goes.
    cache.put(5, picture(5), 100, 6);
    EXPECT_EQ(kept(cache, 0, 20), (std::vector<int64_t>{5, 8, 9}));
    // On a tie the earlier one goes.
    cache.put(7, picture(7), 100, 7);
    EXPECT_EQ(kept(cache, 0, 20), (std::vector<int64_t>{7, 8, 9}));
    // A frame kept already is not put again, nor booked twice.
    cache.put(8, picture(99), 100, 8);
    EXPECT_EQ(**cache.find(8), 8);
    EXPECT_EQ(cache.bytes(), 300u);
    EXPECT_EQ(budget.used_by_caches(), 300u);
}

TEST(PictureCache, KeepsWithinItsByteBoundAndOnlyWhatCanReachTheFocus) {
    MemoryBudget budget(size_t{1} << 30);
    Cache cache(budget, 1000);
    for (int64_t n = 0; n < 40; ++n) {
        cache.put(n, picture(n), 300, n);
        EXPECT_LE(cache.bytes(), 1000u);
        EXPECT_EQ(cache.bytes(), 300 * cache.count());
    }
    EXPECT_EQ(kept(cache, 0, 40), (std::vector<int64_t>{37, 38, 39}));
    // A picture larger than the bound is never kept.
    cache.put(100, picture(100), 1001, 100);
    EXPECT_EQ(cache.find(100), nullptr);
    EXPECT_LE(cache.bytes(), 1000u);
    // Three pictures fit: one four frames before the focus would be pushed out before the
    // decode reaches it, one three frames before would not.
    cache.set_bound(1000);
    EXPECT_EQ(cache.count(), 0u);
    cache.put(16, picture(16), 300, 20);
    EXPECT_EQ(cache.find(16), nullptr);
    cache.put(17, picture(17), 300, 20);
    EXPECT_NE(cache.find(17), nullptr);
    // Pictures after the focus are at distance 0.
    cache.put(30, picture(30), 300, 20);
    EXPECT_NE(cache.find(30), nullptr);
    // A bound of 0 keeps nothing.
    cache.set_bound(0);
    cache.put(20, picture(20), 300, 20);
    EXPECT_EQ(cache.count(), 0u);
}

TEST(PictureCache, AfterAJumpKeepsOnlyAWindowBeforeTheTarget) {
    MemoryBudget budget(size_t{1} << 30);
    Cache cache(budget, 100'000);
    cache.set_keep_before(2);
    for (int64_t n = 0; n <= 10; ++n) cache.put(n, picture(n), 100, 10);
    EXPECT_EQ(kept(cache, 0, 10), (std::vector<int64_t>{8, 9, 10}));
    // Stepping back keeps all that fits.
    cache.set_keep_before(Cache::kKeepAll);
    for (int64_t n = 0; n <= 10; ++n) cache.put(n, picture(n), 100, 10);
    EXPECT_EQ(cache.count(), 11u);
}

TEST(PictureCache, TakesNoMoreThanTheBudgetGivesAndGivesEverythingBack) {
    // A cache may hold at most half of a budget: 500 of 1000 bytes.
    MemoryBudget budget(1000);
    {
        Cache cache(budget, 100'000);
        for (int64_t n = 0; n < 5; ++n) cache.put(n, picture(n), 200, 4);
        EXPECT_EQ(kept(cache, 0, 4), (std::vector<int64_t>{3, 4}));
        EXPECT_EQ(cache.bytes(), 400u);
        EXPECT_EQ(budget.used_by_caches(), 400u);
        EXPECT_EQ(budget.used(), 400u);
        cache.clear();
        EXPECT_EQ(cache.count(), 0u);
        EXPECT_EQ(cache.bytes(), 0u);
        EXPECT_EQ(budget.used(), 0u);

        // Working pictures elsewhere leave room for one picture only.
        ASSERT_TRUE(budget.take(700));
        for (int64_t n = 0; n < 3; ++n) cache.put(n, picture(n), 200, 2);
        EXPECT_EQ(kept(cache, 0, 2), (std::vector<int64_t>{2}));
        EXPECT_EQ(budget.used(), 900u);
        // And then, the budget made smaller, for none: nothing is kept, and what was kept
        // has been let go.
        budget.set_limit(850);
        cache.put(3, picture(3), 200, 3);
        EXPECT_EQ(cache.count(), 0u);
        EXPECT_EQ(budget.used_by_caches(), 0u);
        EXPECT_EQ(budget.used(), 700u);
        budget.give_back(700);
        budget.set_limit(1000);

        // A new bound starts from an empty cache.
        for (int64_t n = 0; n < 3; ++n) cache.put(n, picture(n), 100, 2);
        EXPECT_EQ(budget.used_by_caches(), 300u);
        cache.set_bound(250);
        EXPECT_EQ(budget.used(), 0u);
        for (int64_t n = 0; n < 3; ++n) cache.put(n, picture(n), 100, 2);
        EXPECT_EQ(kept(cache, 0, 2), (std::vector<int64_t>{1, 2}));
        EXPECT_EQ(budget.used_by_caches(), 200u);
    }
    // The cache's end gives back what it held.
    EXPECT_EQ(budget.used_by_caches(), 0u);
    EXPECT_EQ(budget.used(), 0u);
}

TEST(PictureCache, AFrameWithoutAPictureOfItsOwnFindsTheLastOneBeforeIt) {
    MemoryBudget budget(size_t{1} << 30);
    Cache cache(budget, 100'000);
    EXPECT_FALSE(cache.last_at_or_before(5));
    cache.put(3, picture(3), 100, 9);
    cache.put(6, picture(6), 100, 9);
    EXPECT_FALSE(cache.last_at_or_before(2));
    for (const auto& [frame, shown] :
         std::vector<std::pair<int64_t, int64_t>>{{3, 3}, {5, 3}, {6, 6}, {100, 6}}) {
        const auto found = cache.last_at_or_before(frame);
        ASSERT_TRUE(found) << frame;
        EXPECT_EQ(found->first, shown);
        EXPECT_EQ(*found->second, shown);
    }
}

}  // namespace
}  // namespace tambrel::media

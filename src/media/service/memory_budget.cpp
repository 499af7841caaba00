#include "media/service/memory_budget.h"

#include <cerrno>
#include <cstdlib>

namespace tambrel::media {

MemoryBudget& MemoryBudget::process() {
    static MemoryBudget budget([] {
        if (const char* mb = std::getenv("TAMBREL_MEMORY_MB"); mb && *mb) {
            char* end = nullptr;
            errno = 0;
            const unsigned long long v = std::strtoull(mb, &end, 10);
            if (errno == 0 && *end == '\0' && v > 0 && v < (size_t{1} << 44))
                return size_t(v) << 20;
        }
        return kDefaultLimit;
    }());
    return budget;
}

size_t MemoryBudget::available() const {
    const size_t l = limit_, u = used_;
    return u >= l ? 0 : l - u;
}

bool MemoryBudget::take(size_t bytes) {
    size_t now = used_.load();
    do {
        if (bytes > limit_ || now > limit_ - bytes) return false;
    } while (!used_.compare_exchange_weak(now, now + bytes));
    return true;
}

void MemoryBudget::give_back(size_t bytes) { used_ -= bytes; }

bool MemoryBudget::take_for_cache(size_t bytes) {
    size_t now = cached_.load();
    do {
        if (bytes > limit_ / 2 || now > limit_ / 2 - bytes) return false;
    } while (!cached_.compare_exchange_weak(now, now + bytes));
    if (take(bytes)) return true;
    cached_ -= bytes;
    return false;
}

void MemoryBudget::give_back_from_cache(size_t bytes) {
    cached_ -= bytes;
    give_back(bytes);
}

BudgetShare BudgetShare::take(MemoryBudget& budget, size_t bytes) {
    BudgetShare share;
    if (budget.take(bytes)) {
        share.budget_ = &budget;
        share.bytes_ = bytes;
    }
    return share;
}

void BudgetShare::reset() {
    if (budget_) budget_->give_back(bytes_);
    budget_ = nullptr;
    bytes_ = 0;
}

}  // namespace tambrel::media

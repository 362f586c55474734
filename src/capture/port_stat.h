#pragma once
#include <array>
#include <atomic>
#include <cstdint>

namespace tn {

// Category indexes of a counter record.
enum PortCategory : int {
    kWeb = 0,
    kMail = 1,
    kNews = 2,
    kFilesharing = 3,
    kUdp = 4,
    kOthers = 5,
    kFtp = 6,
    kCustom = 7,
    kCategoryCount = 11, // 8 to 10 are reserved and never incremented
};

// Eleven byte counters. The capture worker is the only writer while it runs; the user interface
// reads them at the same time, so every counter is read and written whole.
class CPortStat {
public:
    std::uint64_t get(int k) const {
        return m_c[static_cast<std::size_t>(k)].load(std::memory_order_relaxed);
    }
    void set(int k, std::uint64_t v) {
        m_c[static_cast<std::size_t>(k)].store(v, std::memory_order_relaxed);
    }
    // One writer: a load and a store are enough, and cheaper than a locked add.
    void add(int k, std::uint64_t v) {
        auto& c = m_c[static_cast<std::size_t>(k)];
        c.store(c.load(std::memory_order_relaxed) + v, std::memory_order_relaxed);
    }
    void reset() {
        for (auto& c : m_c)
            c.store(0, std::memory_order_relaxed);
    }
    // The sum of all eleven, wrapping like the counters do.
    std::uint64_t total() const {
        std::uint64_t sum = 0;
        for (const auto& c : m_c)
            sum += c.load(std::memory_order_relaxed);
        return sum;
    }

private:
    std::array<std::atomic<std::uint64_t>, kCategoryCount> m_c{};
};

} // namespace tn

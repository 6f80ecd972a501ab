#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

#include "common/index_array.hpp"
#include "common/large_array_allocator.hpp"

namespace corvane {
namespace {

constexpr std::size_t HUGE_PAGE_BYTES = std::size_t{2} << 20;
constexpr std::size_t THRESHOLD = LARGE_ARRAY_BYTES / sizeof(std::uint32_t);

std::uint32_t pattern(std::size_t i) {
    return static_cast<std::uint32_t>(i * 2654435761u);
}

void expect_pattern(const LargeArray<std::uint32_t>& values, std::size_t size,
                    const std::string& context) {
    ASSERT_EQ(values.size(), size) << context;
    for (std::size_t i = 0; i < size; ++i) {
        if (values[i] != pattern(i)) {
            ADD_FAILURE() << context << ": element " << i;
            return;
        }
    }
}

// Arrays on either side of the size from which memory is mapped on its own: zeros when
// made, every element kept, mapped ones on a huge-page boundary. A vector that grows or
// shrinks across that size hands each block back through the path it came from, so
// a mix-up between the two shows up here as a crash.
TEST(LargeArrayAllocator, ArraysAcrossTheMappedSize) {
    for (const std::size_t size :
         {std::size_t{1}, THRESHOLD - 1, THRESHOLD, THRESHOLD + 1, 3 * THRESHOLD + 12345}) {
        const std::string context = "size " + std::to_string(size);
        LargeArray<std::uint32_t> values(size);
        std::size_t nonzero = 0;
        for (const std::uint32_t value : values)
            nonzero += value != 0 ? 1 : 0;
        EXPECT_EQ(nonzero, 0u) << context;
        for (std::size_t i = 0; i < size; ++i)
            values[i] = pattern(i);
        expect_pattern(values, size, context);
        if (size * sizeof(std::uint32_t) >= LARGE_ARRAY_BYTES) {
            EXPECT_EQ(reinterpret_cast<std::uintptr_t>(values.data()) % HUGE_PAGE_BYTES, 0u)
                << context;
        }
        const LargeArray<std::uint32_t> copy = values;
        expect_pattern(copy, size, context + " copied");
        const LargeArray<std::uint32_t> moved = std::move(values);
        expect_pattern(moved, size, context + " moved");
    }

    LargeArray<std::uint32_t> grown;
    for (std::size_t i = 0; i < 2 * THRESHOLD + 7; ++i)
        grown.push_back(pattern(i));
    expect_pattern(grown, 2 * THRESHOLD + 7, "grown one by one");
    grown.resize(100);
    grown.shrink_to_fit();
    expect_pattern(grown, 100, "shrunk below the mapped size");
    grown.resize(THRESHOLD + 1);
    for (std::size_t i = 100; i < grown.size(); ++i)
        EXPECT_EQ(grown[i], 0u) << "regrown element " << i;
}

// IndexArray keeps its 4- and 8-byte storage in such arrays: values survive at either width
// and across the mapped size.
TEST(LargeArrayAllocator, IndexArraysAtBothWidths) {
    const std::size_t wide_bound = std::size_t{1} << 40;
    for (const std::size_t bound : {THRESHOLD * 4, wide_bound}) {
        IndexArray values(THRESHOLD + 3, bound);
        for (std::size_t i = 0; i < values.size(); ++i)
            values.set(i, (i * 7919) % bound);
        values.push_back(bound - 1);
        ASSERT_EQ(values.size(), THRESHOLD + 4) << "bound " << bound;
        for (std::size_t i = 0; i + 1 < values.size(); ++i)
            ASSERT_EQ(values[i], (i * 7919) % bound) << "bound " << bound << " index " << i;
        EXPECT_EQ(values[THRESHOLD + 3], bound - 1) << "bound " << bound;
        EXPECT_GE(values.bytes(), (THRESHOLD + 4) * (bound == wide_bound ? 8u : 4u));
    }
}

}  // namespace
}  // namespace corvane

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "platform/platform.h"

namespace {

// Zeroed blocks of every size are fully usable; the big ones (table sizes)
// start on a 2 MB boundary so the kernel can back them with huge pages, and
// trimming the over-allocated edges must leave exactly the requested span.
TEST(Platform, ZeroedBlocksOfAnySize) {
  const std::size_t MB = std::size_t(1) << 20;
  for (std::size_t bytes : {std::size_t(0), std::size_t(1), std::size_t(5000), 4 * MB - 1, 4 * MB,
                            4 * MB + 4097, 64 * MB + 256, 100 * MB + 16 * 16}) {
    auto* p = static_cast<unsigned char*>(alloc_zeroed(bytes));
    ASSERT_NE(p, nullptr) << bytes;
    if (bytes >= 4 * MB) {
      EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % (2 * MB), 0u) << bytes;
    }
    const std::size_t n = bytes ? bytes : 1;
    // First, last and a page-stride sample: zero, then writable.
    for (std::size_t i = 0; i < n; i += 4096) ASSERT_EQ(p[i], 0) << bytes << " at " << i;
    ASSERT_EQ(p[n - 1], 0);
    std::memset(p + n - (n < 64 ? n : 64), 0xAB, n < 64 ? n : 64);
    p[0] = 1;
    free_zeroed(p, bytes);
  }
}

}  // namespace

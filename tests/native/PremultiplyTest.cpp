#include "app/Premultiply.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

using namespace qorv;

namespace {

// Pixels are stored blue, green, red, alpha.
TEST(PremultiplyPixels, ScalesColoursByAlphaWithTruncation) {
    uint8_t pixels[] = {106, 232, 255, 186,  // the golden bar at alpha 186
                        255, 255, 255, 0,    // fully transparent
                        12,  34,  56,  255,  // opaque stays as it is
                        255, 128, 1,   30};  // a soft corner
    qorv::PremultiplyPixels(pixels, 4, 1, sizeof pixels);
    const uint8_t expected[] = {77, 169, 186, 186, 0, 0, 0, 0, 12, 34, 56, 255, 30, 15, 0, 30};
    for (size_t i = 0; i < sizeof pixels; ++i) EXPECT_EQ(pixels[i], expected[i]) << "byte " << i;
}

TEST(PremultiplyPixels, WalksRowsByPitchAndLeavesPaddingAlone) {
    // Two rows of one pixel, each row padded to 8 bytes.
    std::vector<uint8_t> rows = {200, 100, 50, 128, 0xEE, 0xEE, 0xEE, 0xEE,
                                 200, 100, 50, 64,  0xEE, 0xEE, 0xEE, 0xEE};
    qorv::PremultiplyPixels(rows.data(), 1, 2, 8);
    EXPECT_EQ(rows, (std::vector<uint8_t>{100, 50, 25, 128, 0xEE, 0xEE, 0xEE, 0xEE, 50, 25, 12, 64,
                                          0xEE, 0xEE, 0xEE, 0xEE}));
}

TEST(PremultiplyPixels, BottomUpImagesUseANegativePitch) {
    std::vector<uint8_t> rows = {10, 10, 10, 0, 200, 200, 200, 255};
    // The first image row is the last in memory.
    qorv::PremultiplyPixels(rows.data() + 4, 1, 2, -4);
    EXPECT_EQ(rows, (std::vector<uint8_t>{0, 0, 0, 0, 200, 200, 200, 255}));
}

TEST(PremultiplyPixels, EmptyImageIsLeftAlone) {
    uint8_t pixel[] = {9, 9, 9, 9};
    qorv::PremultiplyPixels(pixel, 0, 1, 4);
    qorv::PremultiplyPixels(pixel, 1, 0, 4);
    EXPECT_EQ(pixel[0], 9);
}

}  // namespace

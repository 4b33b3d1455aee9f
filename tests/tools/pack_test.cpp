#include <gtest/gtest.h>

#include <cstring>

#include "art/pack.h"
#include "art/preview.h"

using art::Image;

namespace {

Image solid(int w, int h, std::uint8_t b, std::uint8_t g, std::uint8_t r, std::uint8_t a) {
    Image img{w, h, std::vector<std::uint8_t>(static_cast<std::size_t>(w) * h * 4)};
    for (std::size_t i = 0; i < img.px.size(); i += 4) {
        img.px[i] = b, img.px[i + 1] = g, img.px[i + 2] = r, img.px[i + 3] = a;
    }
    return img;
}

// Every pixel different: its coordinates and a seed in the colour bytes.
Image gradient(int w, int h, std::uint8_t seed) {
    Image img = solid(w, h, 0, 0, 0, 255);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            std::uint8_t* p = &img.px[(static_cast<std::size_t>(y) * w + x) * 4];
            p[0] = static_cast<std::uint8_t>(x), p[1] = static_cast<std::uint8_t>(y), p[2] = seed;
        }
    return img;
}

std::uint32_t le32(const std::vector<std::uint8_t>& b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

}  // namespace

TEST(PictureFile, HeaderAndPixelsLittleEndian) {
    Image img = gradient(300, 2, 7);
    auto bytes = art::encode_qzif(img);
    ASSERT_EQ(bytes.size(), 12u + 4u * 300 * 2);
    EXPECT_EQ(std::memcmp(bytes.data(), "QZIF", 4), 0);
    EXPECT_EQ(le32(bytes, 4), 300u);
    EXPECT_EQ(le32(bytes, 8), 2u);
    EXPECT_EQ(std::memcmp(bytes.data() + 12, img.px.data(), img.px.size()), 0);

    Image back;
    ASSERT_TRUE(art::decode_qzif(bytes.data(), bytes.size(), back));
    EXPECT_EQ(back.w, 300);
    EXPECT_EQ(back.px, img.px);
}

TEST(PictureFile, ReaderRefusesWrongMagicAndWrongLength) {
    auto bytes = art::encode_qzif(solid(3, 3, 1, 2, 3, 4));
    Image out;
    EXPECT_FALSE(art::decode_qzif(bytes.data(), bytes.size() - 1, out));
    auto longer = bytes;
    longer.push_back(0);
    EXPECT_FALSE(art::decode_qzif(longer.data(), longer.size(), out));
    auto strip = bytes;
    std::memcpy(strip.data(), "QZVF", 4);
    EXPECT_FALSE(art::decode_qzif(strip.data(), strip.size(), out));
    EXPECT_FALSE(art::decode_qzif(bytes.data(), 8, out));
}

TEST(StripFile, TwoFramesOf40x24HaveTheDocumentedLength) {
    std::vector<std::uint8_t> out;
    std::string err;
    art::StripInfo info;
    ASSERT_TRUE(art::encode_qzvf({gradient(40, 24, 1), gradient(40, 24, 2)}, out, err, &info)) << err;
    EXPECT_EQ(std::memcmp(out.data(), "QZVF", 4), 0);
    EXPECT_EQ(le32(out, 4), 40u);
    EXPECT_EQ(le32(out, 8), 24u);
    EXPECT_EQ(le32(out, 12), info.blocks);
    EXPECT_EQ(le32(out, 16), 2u);
    EXPECT_EQ(info.blocks, 120u);  // 60 distinct tiles per frame, none shared between frames
    EXPECT_EQ(out.size(), 20u + 64u * info.blocks + 240u);
}

TEST(StripFile, EqualTilesShareOneBlockWithinAndAcrossFrames) {
    std::vector<std::uint8_t> out;
    std::string err;
    art::StripInfo info;
    Image a = solid(16, 8, 10, 20, 30, 255);
    Image b = gradient(16, 8, 9);
    ASSERT_TRUE(art::encode_qzvf({a, b, a}, out, err, &info)) << err;
    // frame a: one block for all 8 tiles; frame b: 8 new blocks; third frame reuses the first.
    EXPECT_EQ(info.blocks, 9u);
    const std::size_t table = 20 + 64 * info.blocks;
    for (int t = 0; t < 8; ++t) {
        EXPECT_EQ(out[table + 2 * t] | out[table + 2 * t + 1] << 8, 0);
        EXPECT_EQ(out[table + 2 * (16 + t)] | out[table + 2 * (16 + t) + 1] << 8, 0);
        EXPECT_EQ(out[table + 2 * (8 + t)] | out[table + 2 * (8 + t) + 1] << 8, 1 + t);
    }
}

TEST(StripFile, EdgeTilesPadWithTransparentPixelsAndRoundTrip) {
    // 41 pixels wide: 11 tile columns, the last showing one pixel; 5 rows high: 2 tile rows.
    std::vector<Image> frames{gradient(41, 5, 3), gradient(41, 5, 4), gradient(41, 5, 3)};
    std::vector<std::uint8_t> out;
    std::string err;
    art::StripInfo info;
    ASSERT_TRUE(art::encode_qzvf(frames, out, err, &info)) << err;
    EXPECT_EQ(out.size(), 20u + 64u * info.blocks + 2u * 3 * 11 * 2);
    // The block of the bottom-right tile: only pixel (0, 0) is inside the frame.
    const std::size_t table = 20 + 64 * info.blocks;
    int last = out[table + 2 * 21] | out[table + 2 * 21 + 1] << 8;
    const std::uint8_t* blk = out.data() + 20 + 64 * last;
    EXPECT_EQ(blk[3], 255);
    for (int i = 4; i < 64; ++i) EXPECT_EQ(blk[i], 0) << "byte " << i;

    art::StripInfo back_info;
    std::vector<Image> back;
    ASSERT_TRUE(art::decode_qzvf(out.data(), out.size(), back_info, back));
    ASSERT_EQ(back.size(), 3u);
    for (int f = 0; f < 3; ++f) EXPECT_EQ(back[f].px, frames[f].px) << "frame " << f;
}

TEST(StripFile, RefusesMoreThan65536DistinctBlocksInsteadOfWrappingIndices) {
    std::vector<Image> frames;
    for (std::uint32_t i = 0; i < 65536; ++i) {
        Image f = solid(4, 4, static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i >> 8), 0, 255);
        frames.push_back(std::move(f));
    }
    std::vector<std::uint8_t> out;
    std::string err;
    art::StripInfo info;
    ASSERT_TRUE(art::encode_qzvf(frames, out, err, &info)) << err;
    EXPECT_EQ(info.blocks, 65536u);
    EXPECT_EQ(out[out.size() - 2] | out[out.size() - 1] << 8, 65535);

    frames.push_back(solid(4, 4, 0, 0, 1, 255));
    out.clear();
    EXPECT_FALSE(art::encode_qzvf(frames, out, err));
    EXPECT_NE(err.find("65536"), std::string::npos);
}

TEST(StripFile, RefusesMixedSizesAndEmptyInput) {
    std::vector<std::uint8_t> out;
    std::string err;
    EXPECT_FALSE(art::encode_qzvf({}, out, err));
    EXPECT_FALSE(art::encode_qzvf({solid(8, 8, 0, 0, 0, 0), solid(8, 4, 0, 0, 0, 0)}, out, err));
}

TEST(StripFile, ReaderRefusesBadLengthAndIndicesPastTheBlocks) {
    std::vector<std::uint8_t> out;
    std::string err;
    ASSERT_TRUE(art::encode_qzvf({gradient(8, 4, 1)}, out, err)) << err;  // 2 blocks, 2 indices
    art::StripInfo info;
    std::vector<Image> frames;
    ASSERT_TRUE(art::decode_qzvf(out.data(), out.size(), info, frames));
    EXPECT_FALSE(art::decode_qzvf(out.data(), out.size() - 1, info, frames));
    auto bad = out;
    bad[bad.size() - 2] = 2;  // names block 2 of 2
    EXPECT_FALSE(art::decode_qzvf(bad.data(), bad.size(), info, frames));
    auto huge = out;
    huge[16] = 0xFF, huge[17] = 0xFF, huge[18] = 0xFF, huge[19] = 0xFF;  // absurd frame count
    EXPECT_FALSE(art::decode_qzvf(huge.data(), huge.size(), info, frames));
}

TEST(Compose, DivisorIs256) {
    std::uint8_t d[4] = {0, 0, 0, 255};
    const std::uint8_t white[4] = {255, 255, 255, 255};
    art::compose_pixel(d, white);
    EXPECT_EQ(d[0], 254);
    EXPECT_EQ(d[1], 254);
    EXPECT_EQ(d[2], 254);
    EXPECT_EQ(d[3], 255);

    std::uint8_t w[4] = {255, 255, 255, 255};
    const std::uint8_t black[4] = {0, 0, 0, 255};
    art::compose_pixel(w, black);
    EXPECT_EQ(w[0], 0);
    EXPECT_EQ(w[3], 255);

    std::uint8_t keep[4] = {12, 34, 56, 78};
    const std::uint8_t clear[4] = {200, 200, 200, 0};
    art::compose_pixel(keep, clear);
    EXPECT_EQ(keep[0], 12);
    EXPECT_EQ(keep[1], 34);
    EXPECT_EQ(keep[2], 56);
    EXPECT_EQ(keep[3], 78);
}

TEST(Compose, SmallPictureRepeatsAcrossALargerArea) {
    Image dst = solid(30, 10, 0, 0, 0, 0);
    Image src = gradient(10, 10, 5);
    art::compose_tiled(dst, src, 0, 0, 30, 10);
    for (int x = 0; x < 30; ++x) {
        const std::uint8_t* p = &dst.px[(3 * 30 + x) * 4];
        EXPECT_EQ(p[0], static_cast<std::uint8_t>((x % 10) * 255 >> 8)) << x;
    }
    Image quarter = solid(5, 5, 0, 0, 0, 0);
    art::compose_tiled(quarter, src, 0, 0, 5, 5);
    EXPECT_EQ(quarter.px[(4 * 5 + 4) * 4], 4 * 255 >> 8);
    EXPECT_EQ(quarter.px[(4 * 5 + 4) * 4 + 1], 4 * 255 >> 8);
}

// Finding the deflate settings that reproduce stored bytes, and deflating with them.
#include "delta/deflate_settings.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "delta/deflate_block_scan.h"

namespace {

using Bytes = std::vector<unsigned char>;
using delta::DeflateSettings;

Bytes sample() {
  std::mt19937 rng(7);
  std::string text;
  while (text.size() < 40000)
    text += "entry " + std::to_string(rng() % 5000) + (rng() % 3 ? " name\n" : " \"x\" = 1;\n");
  return Bytes(text.begin(), text.end());
}

// Deflated with zlib directly, the way another tool would have, in pieces of 1000 output bytes.
Bytes deflatedBy(const Bytes& contents, const DeflateSettings& s) {
  z_stream z{};
  EXPECT_EQ(deflateInit2(&z, s.level, Z_DEFLATED, -int{s.windowBits}, s.memLevel, s.strategy),
            Z_OK);
  Bytes out;
  z.next_in = const_cast<Bytef*>(contents.data());
  z.avail_in = static_cast<uInt>(contents.size());
  int rc = Z_OK;
  while (rc != Z_STREAM_END) {
    unsigned char piece[1000];
    z.next_out = piece;
    z.avail_out = sizeof piece;
    rc = deflate(&z, Z_FINISH);
    EXPECT_TRUE(rc == Z_OK || rc == Z_STREAM_END);
    out.insert(out.end(), piece, piece + sizeof piece - z.avail_out);
  }
  deflateEnd(&z);
  return out;
}

TEST(DeflateSettings, TheBuildRunsThePinnedZlib) {
  EXPECT_STREQ(zlibVersion(), delta::pinnedZlibVersion());
  EXPECT_TRUE(delta::runningZlibIsPinned());
}

// Whatever settings made the stored bytes, the search returns settings that remake them
// exactly; for settings whose stream no earlier candidate shares, the very same settings.
TEST(DeflateSettings, FindsSettingsThatReproduceStoredBytesExactly) {
  const Bytes contents = sample();
  const DeflateSettings made[] = {
      {6, 15, 8, Z_DEFAULT_STRATEGY}, {9, 15, 8, Z_DEFAULT_STRATEGY},
      {1, 15, 8, Z_DEFAULT_STRATEGY}, {4, 15, 8, Z_DEFAULT_STRATEGY},
      {7, 12, 5, Z_FILTERED},         {2, 9, 1, Z_FIXED},
      {5, 15, 9, Z_HUFFMAN_ONLY},     {3, 15, 8, Z_RLE},
  };
  for (const DeflateSettings& s : made) {
    const std::string name = std::to_string(s.level) + "/" + std::to_string(s.windowBits) + "/" +
                             std::to_string(s.memLevel) + "/" + std::to_string(s.strategy);
    const Bytes stored = deflatedBy(contents, s);
    const auto found =
        delta::findDeflateSettings(contents.data(), contents.size(), stored.data(), stored.size());
    ASSERT_TRUE(found) << name;
    const auto again = delta::deflateWithSettings(found.value(), contents.data(), contents.size());
    ASSERT_TRUE(again) << name;
    EXPECT_EQ(again.value(), stored) << name;
    if (s.strategy != Z_HUFFMAN_ONLY && s.strategy != Z_RLE) {
      EXPECT_EQ(found.value(), s) << name;
    }
  }
}

// A long stream is first compared on its beginning only; a setting that agrees there and
// parts later must not be taken for the one that made the bytes. Incompressible bytes come
// out alike at levels 6 and 9, the text after them does not.
TEST(DeflateSettings, ASettingAgreeingOnlyOnTheStreamsBeginningIsNotTaken) {
  std::mt19937 rng(5);
  Bytes contents(150000);
  for (unsigned char& b : contents) b = static_cast<unsigned char>(rng());
  const Bytes text = sample();
  for (int copies = 0; copies < 8; ++copies) contents.insert(contents.end(), text.begin(), text.end());
  const DeflateSettings six{6, 15, 8, Z_DEFAULT_STRATEGY}, nine{9, 15, 8, Z_DEFAULT_STRATEGY};
  const Bytes bySix = deflatedBy(contents, six), byNine = deflatedBy(contents, nine);
  ASSERT_NE(bySix, byNine);
  ASSERT_GT(std::mismatch(bySix.begin(), bySix.end(), byNine.begin()).first - bySix.begin(),
            64 * 1024)
      << "the case needs streams that agree on their first 64 KiB";
  for (const DeflateSettings& s : {six, nine}) {
    const Bytes& stored = s == six ? bySix : byNine;
    const auto found =
        delta::findDeflateSettings(contents.data(), contents.size(), stored.data(), stored.size());
    ASSERT_TRUE(found) << int{s.level};
    EXPECT_EQ(found.value(), s) << int{s.level};
  }
}

// The search skips settings by what the stored stream's first block shows; that rests on how
// this zlib cuts blocks and how far back it matches, pinned here for every memory level.
TEST(DeflateSettings, FirstBlockShowsTheMemoryLevelAndBoundsTheWindow) {
  const Bytes contents = sample();
  for (uint8_t memLevel = 1; memLevel <= 9; ++memLevel) {
    for (const DeflateSettings& s : {DeflateSettings{9, 10, memLevel, Z_DEFAULT_STRATEGY},
                                     DeflateSettings{1, 15, memLevel, Z_FIXED}}) {
      const Bytes stored = deflatedBy(contents, s);
      const delta::FirstDeflateBlock block =
          delta::scanFirstDeflateBlock(stored.data(), stored.size());
      ASSERT_TRUE(block.read) << int{memLevel};
      const size_t perBlock = (size_t{1} << (memLevel + 6)) - 1;
      if (block.last) {
        EXPECT_LE(block.symbols, perBlock) << int{memLevel};
      } else {
        EXPECT_EQ(block.symbols, perBlock) << int{memLevel};
      }
      EXPECT_GT(block.maxDistance, 0u);
      EXPECT_LE(block.maxDistance, (size_t{1} << s.windowBits) - 262) << int{memLevel};
    }
  }
  // Not a Huffman-coded block: nothing to read, so nothing is ruled out.
  const Bytes stored = delta::deflateWithSettings({0, 15, 8, 0}, contents.data(), 100).value();
  EXPECT_FALSE(delta::scanFirstDeflateBlock(stored.data(), stored.size()).read);
  EXPECT_FALSE(delta::scanFirstDeflateBlock(nullptr, 0).read);
}

// The search judges settings that differ only in windows reaching the whole contents once;
// that rests on this zlib deflating such contents alike in all of them.
TEST(DeflateSettings, WindowsThatReachTheWholeContentsDeflateThemAlike) {
  const Bytes full = sample();
  const Bytes contents(full.begin(), full.begin() + 3800);  // reached from windows of 2^12 on
  for (const DeflateSettings& s :
       {DeflateSettings{1, 12, 1, Z_DEFAULT_STRATEGY}, DeflateSettings{6, 12, 8, Z_FILTERED},
        DeflateSettings{9, 12, 9, Z_DEFAULT_STRATEGY}, DeflateSettings{4, 12, 3, Z_FIXED},
        DeflateSettings{6, 12, 5, Z_RLE}}) {
    const Bytes smallest = delta::deflateWithSettings(s, contents.data(), contents.size()).value();
    for (uint8_t windowBits = 13; windowBits <= 15; ++windowBits) {
      DeflateSettings larger = s;
      larger.windowBits = windowBits;
      EXPECT_EQ(deflatedBy(contents, larger), smallest)
          << int{s.level} << "/" << int{windowBits} << "/" << int{s.memLevel};
    }
  }
}

TEST(DeflateSettings, ReproducesLevelZeroAndEmptyContents) {
  const Bytes contents = sample();
  const Bytes stored =
      delta::deflateWithSettings({0, 15, 8, 0}, contents.data(), contents.size()).value();
  const auto found =
      delta::findDeflateSettings(contents.data(), contents.size(), stored.data(), stored.size());
  ASSERT_TRUE(found);
  EXPECT_EQ(found.value().level, 0);
  const Bytes empty = deflatedBy({}, {9, 15, 8, 0});
  const auto foundEmpty = delta::findDeflateSettings(nullptr, 0, empty.data(), empty.size());
  ASSERT_TRUE(foundEmpty);
  EXPECT_EQ(delta::deflateWithSettings(foundEmpty.value(), nullptr, 0).value(), empty);
}

// Bytes no setting of this zlib gives (another deflater's, or one changed byte) are not
// matched: the entry would go whole.
TEST(DeflateSettings, FindsNothingForBytesThisZlibDoesNotWrite) {
  // Small: these bytes defeat the first-block pruning, so every setting is tried.
  const Bytes full = sample();
  const Bytes contents(full.begin(), full.begin() + 8000);
  Bytes changed = deflatedBy(contents, {6, 15, 8, 0});
  changed[changed.size() / 2] ^= 0x10;
  Bytes stored = changed;
  stored.resize(stored.size() / 2);  // a prefix: right bytes, stream cut short
  for (const Bytes& bytes : {changed, stored}) {
    const auto found =
        delta::findDeflateSettings(contents.data(), contents.size(), bytes.data(), bytes.size());
    ASSERT_FALSE(found);
    EXPECT_EQ(found.error(), delta::DeflateSearchFailure::NoMatch);
  }
  // Nor by the likely settings alone when the bytes came from an unusual one.
  const Bytes unusual = deflatedBy(contents, {7, 12, 5, Z_FILTERED});
  EXPECT_FALSE(delta::findDeflateSettings(contents.data(), contents.size(), unusual.data(),
                                          unusual.size(), delta::DeflateSearchScope::Likely));
}

}  // namespace

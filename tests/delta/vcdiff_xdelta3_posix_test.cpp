// Differential test: deltas written by xdelta3 decode to exactly what xdelta3 itself decodes
// them to, over generated pairs (edits, inserts, deletes, repeats, empty sides, unrelated
// files, and files larger than one source and target window) and the encoder's switches
// (application header, checksum, secondary compression).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "delta/vcdiff_decoder.h"
#include "tests/support/test_support.h"

namespace {

using testing_support::readFile;
using testing_support::runProcess;
using testing_support::TempDir;
using testing_support::writeFile;

// Text-like bytes: words from a small vocabulary, so that an encoder finds matches in them.
std::string words(std::mt19937& rng, size_t size) {
  static const char* const kWords[] = {"pack ", "entry ",  "model\n",  "layout ",   "script ",
                                       "0x3f ", "table\t", "texture ", "\"name\" ", "= 42;\n"};
  std::string out;
  while (out.size() < size) out += kWords[rng() % 10];
  out.resize(size);
  return out;
}

std::string randomBytes(std::mt19937& rng, size_t size) {
  std::string out(size, '\0');
  for (char& c : out) c = static_cast<char>(rng());
  return out;
}

// `source` with `count` edits: byte changes, inserted runs and deleted ranges.
std::string edited(std::mt19937& rng, std::string source, int count) {
  for (int i = 0; i < count && !source.empty(); ++i) {
    const size_t at = rng() % source.size();
    switch (rng() % 3) {
      case 0: source[at] = static_cast<char>(rng()); break;
      case 1: source.insert(at, randomBytes(rng, 1 + rng() % 300)); break;
      default: source.erase(at, 1 + rng() % 500); break;
    }
  }
  return source;
}

struct Pair {
  const char* name;
  std::string source;
  std::string target;
  std::vector<std::string> extraFlags;  // window sizes for the large pair
  bool everySwitch = true;              // false: only the first switches (the large pair)
};

std::vector<Pair> makePairs() {
  std::mt19937 rng(2651);
  std::vector<Pair> pairs;
  const std::string base = words(rng, 200000);
  pairs.push_back({"scattered edits", base, edited(rng, base, 40), {}});
  std::string moved = base.substr(120000) + base.substr(0, 120000);  // blocks reordered
  pairs.push_back({"moved blocks", base, moved, {}});
  std::string repeats;
  for (int i = 0; i < 3000; ++i) repeats += "abcabcabd";
  repeats += std::string(70000, 'z') + base.substr(5000, 20000) + repeats;
  pairs.push_back({"repeats within the target", base, repeats, {}});
  pairs.push_back({"empty source", "", words(rng, 5000), {}});
  pairs.push_back({"empty target", base, "", {}});
  pairs.push_back({"both empty", "", "", {}});
  pairs.push_back({"unrelated bytes", randomBytes(rng, 30000), randomBytes(rng, 40000), {}});
  // More than one window of the encoder on both sides: a 9 MiB source read through a 1 MiB
  // source window, and the target cut into 1 MiB windows.
  std::string large = words(rng, 9u << 20);
  pairs.push_back({"larger than the encoder's windows",
                   large,
                   edited(rng, large, 200),
                   {"-B", "1048576", "-W", "1048576"},
                   false});
  return pairs;
}

struct Switches {
  const char* name;
  std::vector<std::string> flags;
  bool secondaryPossible;  // the encoder may compress sections, which the decoder refuses
};

const std::vector<Switches> kSwitches = {
    {"-S none", {"-S", "none"}, false},
    {"-S none -A -n", {"-S", "none", "-A", "-n"}, false},
    {"-S none -A", {"-S", "none", "-A"}, false},
    {"-S none -n", {"-S", "none", "-n"}, false},
    {"defaults", {}, true},
};

// The encoder's path on PATH, or empty (runProcess takes a path, not a command name).
std::string findXdelta3() {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin";
  for (size_t start = 0; start <= dirs.size();) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    const std::string candidate = dirs.substr(start, end - start) + "/xdelta3";
    if (end > start && testing_support::fileExists(candidate)) return candidate;
    start = end + 1;
  }
  return "";
}

const unsigned char* bytes(const std::string& s) {
  return reinterpret_cast<const unsigned char*>(s.data());
}

TEST(VcdiffDecoder, DecodesWhatXdelta3DecodesOnGeneratedPairs) {
  const std::string xdelta3 = findXdelta3();
  if (xdelta3.empty()) GTEST_SKIP() << "xdelta3 is not installed (Debian package xdelta3)";
  TempDir dir;
  const std::string src = dir / "source", tgt = dir / "target", delta = dir / "delta",
                    out = dir / "decoded";
  int secondaryRefusals = 0, decoded = 0;
  for (const Pair& pair : makePairs()) {
    writeFile(src, pair.source);
    writeFile(tgt, pair.target);
    for (const Switches& s : kSwitches) {
      if (!pair.everySwitch && &s != &kSwitches.front()) continue;
      SCOPED_TRACE(std::string(pair.name) + ", xdelta3 " + s.name);
      std::vector<std::string> encode = {xdelta3, "-e", "-9", "-f", "-D"};
      encode.insert(encode.end(), s.flags.begin(), s.flags.end());
      encode.insert(encode.end(), pair.extraFlags.begin(), pair.extraFlags.end());
      encode.insert(encode.end(), {"-s", src, tgt, delta});
      const auto encoded = runProcess(encode, dir.path(), {}, 600);
      ASSERT_EQ(encoded.exitCode, 0) << encoded.err;
      const auto reference =
          runProcess({xdelta3, "-d", "-f", "-s", src, delta, out}, dir.path(), {}, 600);
      ASSERT_EQ(reference.exitCode, 0) << reference.err;
      const std::string expected = readFile(out);
      ASSERT_EQ(expected, pair.target);  // the encoder round-trips; the pair is sound

      const std::string d = readFile(delta);
      const auto result = delta::decodeVcdiff(bytes(pair.source), pair.source.size(), bytes(d),
                                              d.size(), pair.target.size());
      if (!result && s.secondaryPossible &&
          result.error().failure == delta::VcdiffFailure::SecondaryCompression) {
        ++secondaryRefusals;
        continue;
      }
      ASSERT_TRUE(result) << delta::describeVcdiffError(result.error());
      ++decoded;
      const auto& target = result.value();
      ASSERT_EQ(target.size(), expected.size());
      EXPECT_TRUE(std::equal(target.begin(), target.end(), bytes(expected)));
      // One byte less room than the target needs is refused, not overrun.
      if (!expected.empty()) {
        const auto tight = delta::decodeVcdiff(bytes(pair.source), pair.source.size(), bytes(d),
                                               d.size(), expected.size() - 1);
        ASSERT_FALSE(tight);
        EXPECT_EQ(tight.error().failure, delta::VcdiffFailure::TargetTooLarge);
      }
    }
  }
  EXPECT_GE(decoded, 7 * 4 + 1);
  RecordProperty("secondary_refusals", secondaryRefusals);
}

}  // namespace

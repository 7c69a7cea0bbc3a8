// A pipe, a socket or a device where the run expects a pack, a patch archive or the game
// executable. Opening one to read may wait for a writer for ever (a pipe) or never end (an
// endless device), holding both locks; the run must instead treat it as absent, with the
// texts an absent file gets, and end by itself.
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <gtest/gtest.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>

#include "tests/reliability/installer_runs.h"

using namespace reliability;
using testing_support::readFile;

namespace {

namespace fs = std::filesystem;

const std::string& specialFilesRelease() {
  release::TestReleaseOptions options;
  options.changedPacks = {0, 3, 4, 5};
  options.binEntries = {{"mox.exe", "game executable 2.651\n"}};
  return releaseFor("special files", options);
}

enum class Kind { kPipe, kSocket, kDevice };

const char* kindName(Kind kind) {
  switch (kind) {
    case Kind::kPipe: return "Pipe";
    case Kind::kSocket: return "Socket";
    case Kind::kDevice: return "Device";
  }
  return "";
}

// Where the special file stands, relative to the installation folder.
const std::string kPlaces[] = {
    "qdres_packed.kx", "gameRes_packed.kx", "kxres_packed.kx", "res_packed.kx",
    "vemo_packed.kx",  "CN_packed.kx",      "qdres_packedTemp.kx", "bin/mox.exe"};

// Makes the special file at `path`; an empty text when made, else why it cannot be.
std::string makeSpecial(Kind kind, const std::string& path) {
  fs::remove(path);
  int made = -1;
  switch (kind) {
    case Kind::kPipe: made = ::mkfifo(path.c_str(), 0600); break;
    // A socket's file needs no listener to be there.
    case Kind::kSocket: made = ::mknod(path.c_str(), S_IFSOCK | 0600, 0); break;
    // The endless device: read as a file, it would never end.
    case Kind::kDevice: made = ::mknod(path.c_str(), S_IFCHR | 0600, ::makedev(1, 5)); break;
  }
  return made == 0 ? std::string() : std::string("cannot make it here: ") + std::strerror(errno);
}

// What one run shows (boxes and run log), with the scratch root taken out.
struct Shown {
  std::string err;
  std::string runLog;
};

Shown shown(const Installation& installation, const Outcome& run) {
  auto plain = [&](std::string text) {
    const std::string root = installation.root();
    for (size_t at = text.find(root); at != std::string::npos; at = text.find(root, at))
      text.replace(at, root.size(), "<root>");
    return text;
  };
  return {plain(run.err), plain(installation.runLog())};
}

// The run with nothing at all at `place`, once per place.
const Shown& absentRun(const std::string& place) {
  static std::map<std::string, Shown> runs;
  auto found = runs.find(place);
  if (found != runs.end()) return found->second;
  Installation installation(specialFilesRelease());
  fs::remove(installation.game() + "/" + place);
  const Outcome run = installation.run({}, 120);
  EXPECT_TRUE(run.exited);
  return runs[place] = shown(installation, run);
}

using SpecialFileCase = std::tuple<Kind, std::string>;

class SpecialFiles : public ::testing::TestWithParam<SpecialFileCase> {};

TEST_P(SpecialFiles, CountAsAbsentAndNeverHoldTheRun) {
  const auto& [kind, place] = GetParam();
  Installation installation(specialFilesRelease());
  const std::string path = installation.game() + "/" + place;
  const std::string refused = makeSpecial(kind, path);
  if (!refused.empty()) GTEST_SKIP() << kindName(kind) << " at " << place << ": " << refused;

  // The harness's limit ends a run that waits; a run that ends by itself has not waited.
  const Outcome run = installation.run({}, 60);
  ASSERT_TRUE(run.exited) << "ended by signal " << run.signal;
  const Shown special = shown(installation, run);
  const Shown& absent = absentRun(place);
  EXPECT_EQ(special.err, absent.err);
  EXPECT_EQ(special.runLog, absent.runLog);
}

INSTANTIATE_TEST_SUITE_P(
    EveryPlace, SpecialFiles,
    ::testing::Combine(::testing::Values(Kind::kPipe, Kind::kSocket, Kind::kDevice),
                       ::testing::ValuesIn(kPlaces)),
    [](const ::testing::TestParamInfo<SpecialFileCase>& info) {
      std::string name = std::string(kindName(std::get<0>(info.param))) + "At_" +
                         std::get<1>(info.param);
      for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
      return name;
    });

}  // namespace

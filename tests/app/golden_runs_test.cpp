// Golden runs: the real installer's exact outputs for a fixed set of scenarios, compared byte
// for byte with the files under tests/app/golden/<scenario>/ (raw bytes, GBK texts as written):
//   updater.log     the run log (bin/updater.log), when the run leaves one
//   pack.log        the archive writer's log (the run's working folder, bin), when written
//   stdout.txt      the console
//   stderr.txt      standard error (the POSIX installer's message boxes are lines there)
//   launcher.txt    the launcher's messages in order, one a line: code, a space, the text
//   uploaded.log    the file the log server received, and uploaded-path.txt its path there
// A scenario's folder holds exactly the files its run produces. Launcher progress texts are
// the one stream a loaded machine may thin out; see launcherMatches() for how they compare.
//
// Only what must vary between runs and machines is normalised (normalise() below): the scratch
// root, the machine's values in the system report, and the upload's file name (computer name
// and time).
//
// To regenerate the files after an intended change of output, run
//   KXPATCH_UPDATE_GOLDEN=1 build/linux-debug/tests/app_tests --gtest_filter='GoldenRuns.*'
// which writes them into the source tree (KXPATCH_SOURCE_DIR) instead of comparing; review the
// diff before committing it.
#ifndef _WIN32

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "integrity/game_packs.h"
#include "platform/ftp.h"
#include "platform/platform.h"
#include "report/run_state.h"
#include "tests/app/installer_harness.h"
#include "tests/support/ftp_server.h"

using namespace installer_test;

namespace {

namespace fs = std::filesystem;

using Outputs = std::map<std::string, std::string>;  // golden file name -> bytes

enum Pack { kQdres = 0, kGameRes = 1, kRes = 3, kVemo = 4, kCN = 5 };

const std::string kGoldenDir = std::string(KXPATCH_SOURCE_DIR) + "/tests/app/golden/";

bool updatingGolden() {
  const char* value = std::getenv("KXPATCH_UPDATE_GOLDEN");
  return value && std::string(value) == "1";
}

std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
  if (from.empty()) return text;
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

// Split at LF and joined back, the same bytes: the piece after the last LF is kept (empty when
// the text ends in LF).
std::vector<std::string> pieces(const std::string& text) {
  std::vector<std::string> out;
  size_t start = 0;
  for (size_t end = text.find('\n'); end != std::string::npos; end = text.find('\n', start)) {
    out.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  out.push_back(text.substr(start));
  return out;
}

std::string joined(const std::vector<std::string>& lines) {
  std::string out;
  for (size_t i = 0; i < lines.size(); ++i) out += (i ? "\n" : "") + lines[i];
  return out;
}

bool startsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

const std::string kMachine = "<machine>";

// Lines of the system report (report/system_info.cpp) whose value is the machine's: the text
// after the prefix is replaced. The language is not among them: the harness runs the installer
// under LC_ALL=C.
const char* const kMachineValues[] = {
    "Computer Name: ", "CPU: ", "\tCPU Speed: ", "\tPage Size: ",
    "\tPhysical Memory(Free/Total): ", "\tVirtual Memory(Free/Total): ",
    "\tPagefile(Free/Total): ", "\tUser Name: ", "\tManufacturer: ", "\tModel: ",
    "\t\tMajorVersion: ", "\t\tMinorVersion: ", "\t\tBuildNumber: ", "\t\tCSDVersion: "};
// Its sections listing the machine's devices, windows and processes: how many entries they have
// is the machine's too, so a section's indented entries, however many, become one line. So do
// the "\tProcessor N: " lines, one per processor. The report ends with the processes; the
// preferences file that may follow is the scratch root's own and stays as it is.
const char* const kMachineLists[] = {"Display:", "Disk Drive:", "Network Adapter:",
                                     "Top Level Windows: ", "Processes: "};
const std::string kLastList = "Processes: ";

std::string normaliseSystemReport(const std::string& text) {
  std::vector<std::string> out;
  bool inReport = false;
  std::string list;  // the list section whose entries are being dropped
  for (const std::string& line : pieces(text)) {
    if (startsWith(line, "Computer Name: ")) inReport = true;
    if (!list.empty() && startsWith(line, "\t")) continue;
    if (list == kLastList) inReport = false;
    list.clear();
    if (!inReport) {
      out.push_back(line);
      continue;
    }
    std::string normal = line;
    for (const char* header : kMachineLists)
      if (line == header) list = header;
    for (const char* prefix : kMachineValues)
      if (startsWith(line, prefix)) normal = prefix + kMachine;
    if (startsWith(line, "\tProcessor ")) {
      normal = "\tProcessor " + kMachine;
      if (!out.empty() && out.back() == normal) continue;
    }
    out.push_back(normal);
    if (!list.empty()) out.push_back("\t" + kMachine);
  }
  return joined(out);
}

// What must vary between runs and machines, and nothing else: the scratch root as given and
// as the installer's working folder names it (links resolved) becomes "<root>", and the system
// report's machine values become "<machine>".
std::string normalise(const std::string& text, const std::string& root) {
  std::string out = replaceAll(text, root, "<root>");
  out = replaceAll(out, fs::canonical(root).string(), "<root>");
  return normaliseSystemReport(out);
}

// The upload's path below the server's root ends in the computer's name and the time of the
// upload, to the minute: "<computer>_<time>.log".
std::string normaliseUploadPath(const std::string& path) {
  const std::string file = "/" + platform::computerName() + "_";
  const size_t at = path.rfind(file);
  if (at == std::string::npos) return path;
  const std::string time = path.substr(at + file.size());
  if (!std::regex_match(time, std::regex("[0-9]+(_[0-9]+){4}\\.log"))) return path;
  return path.substr(0, at) + "/<computer>_<time>.log";
}

release::TestReleaseOptions changedPacks(std::vector<int> packs) {
  release::TestReleaseOptions options;
  options.changedPacks = std::move(packs);
  return options;
}

release::TestReleaseOptions looseOptions() {
  release::TestReleaseOptions options;
  options.binEntries = {{"mox.exe", "game executable 2.651, rebuilt\n"},
                        {"readme_bin.txt", std::string(2000, 'r')},
                        {"../escape", "must never be written"}};
  options.cacheEntries = {{"shaders.bin", "new shaders"},
                          {"fonts.bin", ""},
                          {"missing/sub.txt", "in a folder made for it"},
                          {"shaders.bin/sub.txt", "no folder can be made for this one"}};
  return options;
}

void damage(const std::string& path) {
  std::string bytes = readFile(path);
  bytes[bytes.size() / 2] ^= 0x5A;
  writeFile(path, bytes);
}

// Gives the local header of the first entry of `archive` that is not a delete marker an extra
// field length the directory does not have. Readers take the data's place from the directory,
// so the entry reads as before; the writer logs the length to pack.log and writes 0.
void announceExtraField(const std::string& archive) {
  std::string bytes = readFile(archive);
  const auto u16 = [&](size_t at) {
    return static_cast<uint32_t>(static_cast<unsigned char>(bytes[at])) |
           static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 8;
  };
  const size_t kFlag = 18, kNameLength = 16, kCompressedSize = 6, kExtraLength = 28;
  for (size_t at = 0; bytes.size() >= at + 30 && bytes.compare(at, 4, "PK\x03\x04") == 0;
       at += 30 + u16(at + kNameLength) + u16(at + kExtraLength) +
             (u16(at + kCompressedSize) | u16(at + kCompressedSize + 2) << 16)) {
    if (u16(at + kFlag) == 15) continue;
    bytes[at + kExtraLength] = 4;
    writeFile(archive, bytes);
    return;
  }
  ADD_FAILURE() << "no entry to change in " << archive;
}

void writePreferences(const Scratch& scratch) {
  const std::string folder = scratch.root() + "/config/Brightfall/Halvoreen";
  fs::create_directories(folder);
  // The account name in GBK bytes, as the game writes it.
  writeFile(folder + "/preferences.xml",
            "<preferences>\n\t<accountName>\xCD\xE6\xBC\xD2\xD2\xBB</accountName>\n"
            "</preferences>\n");
}

struct Scenario {
  const char* name;
  const char* release;                    // key of the generated release
  release::TestReleaseOptions options;    // its options
  std::function<void(Scratch&)> prepare;  // before the run
  std::vector<std::string> args;
  bool logServer;  // a log server takes the upload (otherwise nothing listens on its port)
  bool rerun;      // the outputs are a second run's (the run log holds both)
};

std::vector<Scenario> scenarios() {
  const auto none = [](Scratch&) {};
  const auto resChanged = changedPacks({kRes, kVemo, kCN});
  const auto wrongNewValue = [](int pack) {
    return [pack](Scratch& s) { s.setTableValue("2.651", kGamePacks[pack].name, "0badc0de"); };
  };
  return {
      {"success", "golden default", {}, none, {}, false, false},
      {"success-autorun", "golden default", {}, none, {"AutoRun"}, false, false},
      {"already-new", "golden default", {}, none, {}, false, true},
      {"damaged-pack", "golden default", {}, [](Scratch& s) { damage(s.packPath(kVemo)); }, {},
       false, false},
      {"damaged-pack-first-group", "golden default", {},
       [](Scratch& s) { damage(s.packPath(kQdres)); }, {}, false, false},
      {"missing-pack", "golden default", {},
       [](Scratch& s) { fs::remove(s.packPath(kGameRes)); }, {}, false, false},
      {"extra-field-in-patch", "golden default", {},
       [](Scratch& s) {
         s.usePrivatePayload();
         announceExtraField(s.payload() + "/" + kGamePacks[kVemo].patchName);
       },
       {}, false, false},
      // No log server: the run log keeps the system report, and the account name of the
      // preferences file is in the failure lines and the report.
      {"check-failed", "golden res changed", resChanged,
       [wrongNewValue](Scratch& s) {
         wrongNewValue(kCN)(s);
         writePreferences(s);
       },
       {}, false, false},
      {"check-failed-upload-second-group", "golden res changed", resChanged, wrongNewValue(kCN),
       {}, true, false},
      {"check-failed-upload-first-group", "golden res changed", resChanged, wrongNewValue(kRes),
       {}, true, false},
      {"check-failed-upload-autorun", "golden res changed", resChanged, wrongNewValue(kCN),
       {"AutoRun"}, true, false},
      // The rewritten pack cannot be created: a folder stands at its name.
      {"failed-rewrite", "golden default", {},
       [](Scratch& s) { fs::create_directory(s.packPath(kCN) + "temp"); }, {}, false, false},
      // The patch archive's directory no longer reads: the reader's own log lines.
      {"unreadable-patch", "golden default", {},
       [](Scratch& s) {
         s.usePrivatePayload();
         const std::string patch = s.payload() + "/" + kGamePacks[kVemo].patchName;
         std::string bytes = readFile(patch);
         bytes[bytes.size() - 22] ^= 0x5A;
         writeFile(patch, bytes);
       },
       {}, false, false},
      {"loose-file-failure", "golden loose", looseOptions(), none, {}, false, false},
  };
}

// The outputs of one scenario's run, normalised.
Outputs runScenario(const Scenario& scenario) {
  std::unique_ptr<testing_support::TempDir> serverDir;
  std::unique_ptr<testing_support::FtpServer> server;
  int port = testing_support::unusedPort();
  if (scenario.logServer) {
    serverDir = std::make_unique<testing_support::TempDir>();
    server = std::make_unique<testing_support::FtpServer>(
        serverDir->path(), platform::defaultFtpAccount().user,
        platform::defaultFtpAccount().password);
    EXPECT_TRUE(server->running()) << "the FTP server did not start (python3-pyftpdlib "
                                      "missing?): "
                                   << server->startupErrors();
    port = server->port();
  }
  testing_support::ScopedEnv portHook("KXPATCH_TEST_UPLOAD_PORT", std::to_string(port).c_str());

  Scratch scratch(releaseFor(scenario.release, scenario.options));
  scenario.prepare(scratch);
  if (scenario.rerun) {
    EXPECT_EQ(scratch.run(scenario.args).exitCode, 0);
  }
  LauncherListener launcher(scratch.runtime() + "/MOXStartup");
  const auto result = scratch.run(scenario.args);
  EXPECT_EQ(result.exitCode, 0);

  const std::string root = scratch.root();
  Outputs outputs;
  outputs["stdout.txt"] = normalise(result.out, root);
  outputs["stderr.txt"] = normalise(result.err, root);
  std::string launched;
  for (const auto& message : launcher.messages())
    launched += std::to_string(message.first) + " " + message.second + "\n";
  outputs["launcher.txt"] = normalise(launched, root);
  // The logs are written to the working folder (bin); one anywhere else is an output too.
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const std::string name = entry.path().filename().string();
    if (!entry.is_regular_file() || (name != "updater.log" && name != "pack.log")) continue;
    const std::string where = fs::relative(entry.path(), scratch.bin()).string();
    outputs[where == name ? name : "elsewhere: " + where] =
        normalise(readFile(entry.path().string()), root);
  }
  if (server) {
    for (const auto& entry : fs::recursive_directory_iterator(server->root())) {
      if (!entry.is_regular_file()) continue;
      outputs["uploaded-path.txt"] +=
          normaliseUploadPath(fs::relative(entry.path(), server->root()).string()) + "\n";
      outputs["uploaded.log"] += normalise(readFile(entry.path().string()), root);
    }
  }
  return outputs;
}

// Control and non-ASCII bytes as escapes, so that a line shows whatever its encoding.
std::string visible(const std::string& line) {
  std::string out;
  for (unsigned char c : line) {
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      out += static_cast<char>(c);
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
      out += escaped;
    }
  }
  return out;
}

// Where `actual` first departs from `golden`: the line number and both lines.
std::string firstDifference(const std::string& golden, const std::string& actual) {
  const auto want = pieces(golden);
  const auto got = pieces(actual);
  for (size_t i = 0; i < std::max(want.size(), got.size()); ++i) {
    if (i < want.size() && i < got.size() && want[i] == got[i]) continue;
    std::ostringstream out;
    out << "first difference at line " << (i + 1) << " (golden " << golden.size()
        << " bytes, actual " << actual.size() << " bytes)\n  golden: "
        << (i < want.size() ? visible(want[i]) : "(ends before)") << "\n  actual: "
        << (i < got.size() ? visible(got[i]) : "(ends before)");
    return out.str();
  }
  return "same lines";
}

// How many datagrams the launcher's socket queues before a sender has to wait.
size_t launcherQueueLength() {
  const int configured = std::atoi(readFile("/proc/sys/net/unix/max_dgram_qlen").c_str());
  return configured > 0 ? static_cast<size_t>(configured) : 10;
}

// The launcher's messages. The sender drops a progress text (code 2055) when the listener's
// queue stays full for a short wait (report/run_state.cpp), which a loaded machine can cause;
// the listener reads on a thread of its own, but that thread may not get to run. So the run's
// progress texts must be the golden ones in order, some possibly missing; every other message
// must be there exactly, and the whole stream must be the golden one in order, save for such
// gaps. A text is only dropped while the queue is full, so no gap comes before a queue's worth
// of messages. A run that received everything compares equal.
bool launcherMatches(const std::string& golden, const std::string& actual) {
  const std::string progress = std::to_string(kLauncherProgress) + " ";
  const auto want = pieces(golden);
  const auto got = pieces(actual);
  const size_t queue = launcherQueueLength();
  size_t at = 0;
  for (size_t i = 0; i < got.size(); ++i) {
    while (at < want.size() && want[at] != got[i]) {
      if (!startsWith(want[at], progress) || i < queue) return false;
      ++at;
    }
    if (at == want.size()) return false;
    ++at;
  }
  return at == want.size();
}

Outputs readGolden(const std::string& folder) {
  Outputs golden;
  if (!fs::is_directory(folder)) return golden;
  for (const auto& entry : fs::directory_iterator(folder))
    golden[entry.path().filename().string()] = readFile(entry.path().string());
  return golden;
}

std::string names(const Outputs& outputs) {
  std::string out;
  for (const auto& output : outputs) out += (out.empty() ? "" : ", ") + output.first;
  return out;
}

TEST(GoldenRuns, OutputsMatchTheGoldenFiles) {
  for (const Scenario& scenario : scenarios()) {
    SCOPED_TRACE(scenario.name);
    const Outputs outputs = runScenario(scenario);
    const std::string folder = kGoldenDir + scenario.name;
    if (updatingGolden()) {
      fs::remove_all(folder);
      fs::create_directories(folder);
      for (const auto& [name, bytes] : outputs) writeFile(folder + "/" + name, bytes);
      std::printf("wrote %s\n", folder.c_str());
      continue;
    }
    const Outputs golden = readGolden(folder);
    EXPECT_EQ(names(outputs), names(golden)) << "files of " << folder;
    for (const auto& [name, bytes] : golden) {
      auto produced = outputs.find(name);
      if (produced == outputs.end()) continue;
      const bool same = name == "launcher.txt" ? launcherMatches(bytes, produced->second)
                                               : bytes == produced->second;
      EXPECT_TRUE(same) << folder << "/" << name << ": "
                        << firstDifference(bytes, produced->second);
    }
  }
}

}  // namespace

#endif  // !_WIN32

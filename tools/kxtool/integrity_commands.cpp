// Fingerprints and the check table: fingerprint, checktable, verify.
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <iomanip>
#include <ostream>
#include <string>
#include <utility>

#include "integrity/check_table.h"
#include "integrity/fingerprint.h"
#include "integrity/game_packs.h"
#include "report/run_state.h"
#include "tools/kxtool/commands.h"
#include "tools/release/payload_release.h"
#include "tools/release/release.h"

namespace kxtool {
namespace {

namespace fs = std::filesystem;

constexpr const char* kGameExecutable = "bin/mox.exe";
constexpr const char* kGameExecutableKey = "bin\\mox.exe";

enum class Kind { WholeCrc, Size, SizeCrc };

// A sampled value that fell back to the size alone is a failure here as it is for the table
// (release::sizeCrcValueForTable): the result says so itself.
FingerprintResult fingerprint(Kind kind, const std::string& path,
                              FingerprintEvents* events = nullptr) {
  switch (kind) {
    case Kind::Size: return getFileSizeValue(path, events);
    case Kind::SizeCrc: return getSizeCRC32Value(path, events);
    case Kind::WholeCrc: break;
  }
  return getCRC32Value(path, events);
}

std::string failureMessage(const std::string& file, const FingerprintError& error) {
  std::string message;
  switch (error.reason) {
    case FingerprintFailure::CannotOpen: message = "cannot open " + file; break;
    case FingerprintFailure::TooLarge:
      message = file + " is too large (" + std::to_string(error.fileSize) + " bytes)";
      break;
    case FingerprintFailure::NoMemory: message = "out of memory reading " + file; break;
    case FingerprintFailure::ReadFailed:
      message = "read error in " + file + " at offset " + std::to_string(error.offset);
      break;
    case FingerprintFailure::SeekFailed:
      message = "seek error in " + file + " at offset " + std::to_string(error.offset);
      break;
  }
  if (error.systemCode != 0) message += " (system error " + std::to_string(error.systemCode) + ")";
  return message;
}

// Below this a fingerprint is over before a bar is worth drawing.
constexpr int64_t kLongFingerprintBytes = int64_t{64} << 20;
constexpr int kBarCells = 30;

// How far a long whole-file CRC has come, redrawn over one terminal line and wiped before the
// result is printed on it.
class ProgressBar : public FingerprintEvents {
 public:
  ProgressBar(std::ostream& out, std::string label) : out_(out), label_(std::move(label)) {}
  void progress(int64_t done, int64_t total) override {
    if (total < kLongFingerprintBytes) return;
    const int percent = static_cast<int>(std::clamp<int64_t>(done * 100 / total, 0, 100));
    if (percent == shown_) return;
    shown_ = percent;
    const int filled = percent * kBarCells / 100;
    line_ = label_ + " [" + std::string(filled, '#') + std::string(kBarCells - filled, ' ') +
            "] " + std::to_string(percent) + "%";
    out_ << '\r' << line_ << std::flush;
  }

  void clear() {
    if (!line_.empty()) out_ << '\r' << std::string(line_.size(), ' ') << '\r' << std::flush;
    line_.clear();
    shown_ = -1;
  }

 private:
  std::ostream& out_;
  std::string label_;
  std::string line_;
  int shown_ = -1;
};

bool isLargePack(const std::string& fileName) {
  for (const GamePack& pack : kGamePacks)
    if (pack.group == PackGroup::SampledCrc && fileName == pack.name) return true;
  return false;
}

// The installer's choice: the four large packs by size plus sampled CRC, or by size alone for
// table versions up to 1.051 (compared as bytes, the terminating zero included); every other
// file by whole-file CRC.
Kind installerKind(const std::string& fileName, const std::string& version) {
  if (!isLargePack(fileName)) return Kind::WholeCrc;
  return blockHasSampledCrc(version.c_str()) ? Kind::SizeCrc : Kind::Size;
}

// Every file the table records for an installation: the six packs, then the game executable.
std::vector<std::string> tableFiles() {
  std::vector<std::string> files;
  for (const GamePack& pack : kGamePacks) files.push_back(pack.name);
  files.push_back(kGameExecutable);
  return files;
}

std::string tableKey(const std::string& file) {
  return "Halvoreen\\" + (file == kGameExecutable ? std::string(kGameExecutableKey) : file);
}

std::string onDisk(const std::string& installDir, const std::string& file) {
  return (fs::path(installDir) / fs::path(file)).string();
}

}  // namespace

int fingerprintCommand(const Invocation& call, ToolIo& io) {
  int kinds = 0;
  Kind chosen = Kind::WholeCrc;
  if (call.has("--crc")) ++kinds, chosen = Kind::WholeCrc;
  if (call.has("--size")) ++kinds, chosen = Kind::Size;
  if (call.has("--sizecrc")) ++kinds, chosen = Kind::SizeCrc;
  if (kinds > 1) {
    io.err << "kxtool fingerprint: choose one of --crc, --size, --sizecrc\n";
    return kExitUsage;
  }
  int result = kExitOk;
  for (const std::string& given : call.args) {
    const std::string path = userPath(io, given);
    std::error_code code;
    if (!fs::is_regular_file(path, code)) {
      result = failure(io, call, given + ": no such file");
      continue;
    }
    const Kind kind =
        kinds ? chosen : installerKind(fs::path(path).filename().string(), newVersion);
    ProgressBar bar(io.out, fs::path(given).filename().string());
    const FingerprintResult value = fingerprint(kind, path, io.progress ? &bar : nullptr);
    bar.clear();
    if (!value) {
      result = failure(io, call, failureMessage(given, value.error()));
      continue;
    }
    io.out << value.value() << "  " << given << "\n";
  }
  return result;
}

int checktableCommand(const Invocation& call, ToolIo& io) {
  const std::string installDir = userPath(io, call.args[0]);
  const std::string& version = call.args[1];
  if (!release::isVersionText(version)) return failure(io, call, "\"" + version + "\" is not a version");
  for (const std::string& file : tableFiles()) {
    std::error_code code;
    if (!fs::is_regular_file(onDisk(installDir, file), code))
      return failure(io, call, onDisk(installDir, file) + ": no such file");
  }
  const std::string block = release::makeCheckTableBlock(installDir, version);
  const std::string problem = release::checkTableBlockProblem(block);
  if (!problem.empty()) return failure(io, call, problem);
  const std::string out = call.value("-o");
  if (out.empty()) {
    io.out << block;
    return kExitOk;
  }
  std::error_code code;
  if (fs::exists(userPath(io, out), code) && !call.has("--force"))
    return failure(io, call, out + ": exists; --force replaces it");
  if (!writeFileReplacing(userPath(io, out), block)) return failure(io, call, out + ": cannot write");
  return kExitOk;
}

int verifyCommand(const Invocation& call, ToolIo& io) {
  const std::string installDir = userPath(io, call.args[0]);
  const std::string& from = call.args[2];
  const std::string& to = call.args[3];
  std::string table;
  if (!readWholeFile(userPath(io, call.args[1]), table))
    return failure(io, call, call.args[1] + ": cannot be read");
  for (const std::string& version : {from, to}) {
    if (getCheckValue(table, "mox" + version, tableKey(tableFiles().front())) ==
        kParentStartNotFound)
      return failure(io, call, call.args[1] + " has no block for version " + version);
  }

  int damaged = 0, missing = 0, atOld = 0;
  for (const std::string& file : tableFiles()) {
    const std::string path = onDisk(installDir, file);
    const std::string name = fs::path(file).filename().string();
    const std::string oldStandard = getCheckValue(table, "mox" + from, tableKey(file));
    const std::string newStandard = getCheckValue(table, "mox" + to, tableKey(file));
    std::string status, value;
    std::error_code code;
    if (!fs::is_regular_file(path, code)) {
      status = "missing";
      ++missing;
    } else if ((value = fingerprint(installerKind(name, to), path).text()) == newStandard) {
      status = "new";
    } else if (fingerprint(installerKind(name, from), path).text() == oldStandard) {
      status = "old";
      ++atOld;
    } else {
      status = "damaged";
      ++damaged;
    }
    io.out << std::left << std::setw(9) << status << std::setw(20) << file << " " << value;
    if (status == "damaged") io.out << " (" << from << ": " << oldStandard << ", " << to << ": "
                                    << newStandard << ")";
    io.out << "\n";
  }
  const size_t total = tableFiles().size();
  if (damaged + missing == 0 && atOld == 0)
    io.out << "all " << total << " files are at " << to << "\n";
  else
    io.out << total - atOld - damaged - missing << " at " << to << ", " << atOld << " at " << from
           << ", " << damaged << " damaged, " << missing << " missing\n";
  if (damaged + missing > 0)
    return failure(io, call, std::to_string(damaged) + " damaged, " + std::to_string(missing) +
                                 " missing in " + call.args[0]);
  if (atOld > 0 && !call.has("--allow-old"))
    return failure(io, call, std::to_string(atOld) + " of " + std::to_string(total) +
                                 " files still at " + from + " in " + call.args[0]);
  return kExitOk;
}

}  // namespace kxtool

// The payload's results table: the size and CRC of every byte of each file the installer will
// write, taken from NEW (the packs it rewrites) and the payload's bin and cache archives.
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "archive/kx_format.h"
#include "integrity/crc32.h"
#include "integrity/fingerprint.h"
#include "integrity/game_packs.h"
#include "integrity/results_table.h"
#include "platform/platform.h"
#include "tools/release/release.h"

namespace release {
namespace {

namespace fs = std::filesystem;

using platform::joinPath;

bool record(ResultsTable& table, const std::string& relative, const ExpectedResult& result,
            std::string& error) {
  if (table.add(resultPath(relative), result)) return true;
  error = relative + ": cannot be recorded in the results table (a name another file also " +
          "maps to, or one with control characters)";
  return false;
}

}  // namespace

bool makeResultsTable(const std::string& payloadDir, const std::string& newDir,
                      const std::string& from, const std::string& to, std::string& text,
                      std::string& error) {
  ResultsTable table;
  table.from = from;
  table.to = to;
  for (const GamePack& pack : kGamePacks) {
    // The installer rewrites a pack only when its patch holds entries.
    std::error_code code;
    const auto patchBytes = fs::file_size(joinPath(payloadDir, pack.patchName), code);
    if (code || patchBytes <= kFooterSize) continue;
    const std::string newPack = joinPath(newDir, pack.name);
    const auto whole = getWholeFileCrc(newPack);
    if (!whole) {
      error = newPack + ": cannot be read whole for the results table";
      return false;
    }
    if (!record(table, pack.name,
                {static_cast<uint64_t>(whole.value().size), whole.value().crc}, error))
      return false;
  }
  for (const LooseFolder& loose : kLooseFolders) {
    // An entry without content deletes its file: nothing is written, nothing recorded.
    for (const NamedContent& entry : readArchive(joinPath(payloadDir, loose.patchName))) {
      if (entry.second.empty()) continue;
      const ExpectedResult result{entry.second.size(),
                                  crc32Update(0, entry.second.data(), entry.second.size())};
      if (!record(table, std::string(loose.name) + "/" + entry.first, result, error))
        return false;
    }
  }
  text = encodeResults(table);
  return true;
}

bool writeResultsTable(const std::string& payloadDir, const std::string& newDir,
                       const std::string& from, const std::string& to, std::string& error) {
  std::string text;
  if (!makeResultsTable(payloadDir, newDir, from, to, text, error)) return false;
  const std::string path = joinPath(payloadDir, kResultsFileName);
  platform::OpenedFile opened = platform::openFile(path, "wb");
  FILE* file = opened ? opened.value().release() : nullptr;
  bool written = file && std::fwrite(text.data(), 1, text.size(), file) == text.size();
  if (file && std::fclose(file) != 0) written = false;
  if (!written) error = path + ": cannot write";
  return written;
}

}  // namespace release

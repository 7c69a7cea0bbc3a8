// The check-table block of one installation, and the packed configuration entry that carries
// the game's version.
#include <cstdio>
#include <cstring>
#include <string>

#include "integrity/fingerprint.h"
#include "integrity/game_packs.h"
#include "platform/platform.h"
#include "tools/release/release.h"

#include "sections/packed_writer.h"

namespace release {
namespace {

using platform::joinPath;

std::string tableLine(const std::string& key, const std::string& value) {
  const std::string tag = "Halvoreen\\" + key;
  return "\t<" + tag + ">" + value + "</" + tag + ">\n";
}

}  // namespace

bool sizeCrcValueIsWhole(const std::string& value, int64_t size) {
  if (size < kSampledCrcMinBytes || isFingerprintFailure(value)) return true;
  return value.size() == std::to_string(size).size() + 8;
}

std::string sizeCrcValueForTable(const std::string& path) {
  const std::string value = getSizeCRC32Value(path).text();
  const platform::OpenedFile file = platform::openFileNarrow(path, "rb");
  if (!file) return value;
  const int64_t size = platform::fileSize(file.value().get());
  return sizeCrcValueIsWhole(value, size) ? value : kReadDataFailed;
}

std::string makeCheckTableBlock(const std::string& installDir, const std::string& version) {
  const bool sizePlusCrc = blockHasSampledCrc(version.c_str());
  std::string block = "<mox" + version + ">\n";
  for (GamePackIndex index : kCheckTableOrder) {
    const GamePack& pack = kGamePacks[index];
    const std::string path = joinPath(installDir, pack.name);
    std::string value;
    if (pack.group == PackGroup::WholeCrc)
      value = getCRC32Value(path).text();
    else
      value = sizePlusCrc ? sizeCrcValueForTable(path) : getFileSizeValue(path).text();
    block += tableLine(pack.name, value);
  }
  const std::string game =
      joinPath(joinPath(installDir, kLooseFolders[kBinFolder].name), kGameExecutable);
  block += tableLine("bin\\mox.exe", getCRC32Value(game).text());
  block += "</mox" + version + ">\n";
  return block;
}

std::vector<std::string> checkTableKeys() {
  std::vector<std::string> keys;
  for (const GamePack& pack : kGamePacks) keys.push_back(pack.tableKey);
  keys.push_back(kGameExecutableTableKey);
  return keys;
}

std::string checkTableBlockProblem(const std::string& block) {
  // An entry line is TAB, "<key>", the value, "</key>".
  for (size_t start = 0, end; start < block.size(); start = end + 1) {
    end = block.find('\n', start);
    if (end == std::string::npos) end = block.size();
    const std::string line = block.substr(start, end - start);
    const size_t open = line.find('>'), close = line.rfind("</");
    if (open == std::string::npos || close == std::string::npos || close <= open) continue;
    const std::string value = line.substr(open + 1, close - open - 1);
    if (isFingerprintFailure(value))
      return "cannot fingerprint " + line.substr(close + 2, line.size() - close - 3) + ": " + value;
  }
  return std::string();
}

std::string makeScriptsConfig(const std::string& version) {
  PackedNode root;
  root.add("version", PackedValue::text(version));
  std::string bytes;
  if (!writePackedFile(root, bytes)) return std::string();
  return bytes;
}

}  // namespace release

// Release versions: the one an installation reads as, their order, and the check table that
// lists them newest first.
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "archive/kx_file_system.h"
#include "archive/version_entry.h"
#include "integrity/game_packs.h"
#include "platform/platform.h"
#include "tools/release/payload_release.h"
#include "tools/release/release.h"

namespace release {
namespace {

bool isDecimal(const std::string& text) {
  size_t dots = 0, digits = 0;
  for (char c : text) {
    if (c == '.') ++dots;
    else if (c >= '0' && c <= '9') ++digits;
    else return false;
  }
  return dots <= 1 && digits > 0 && text.front() != '.' && text.back() != '.';
}

std::string withoutLeadingZeros(const std::string& digits) {
  const size_t first = digits.find_first_not_of('0');
  return first == std::string::npos ? std::string() : digits.substr(first);
}

// One top-level block of a check table: its name and where it lies, its line end included.
struct Block {
  std::string name;
  size_t start = 0, end = 0;
};

std::string lineAt(const std::string& text, size_t start, size_t& next) {
  size_t stop = text.find('\n', start);
  next = stop == std::string::npos ? text.size() : stop + 1;
  if (stop == std::string::npos) stop = text.size();
  if (stop > start && text[stop - 1] == '\r') --stop;
  return text.substr(start, stop - start);
}

// The blocks of a table: a line holding only "<name>" up to the line holding only "</name>".
std::vector<Block> blocksOf(const std::string& table) {
  std::vector<Block> blocks;
  size_t next = 0;
  for (size_t at = 0; at < table.size(); at = next) {
    const std::string line = lineAt(table, at, next);
    if (line.size() < 3 || line.front() != '<' || line.back() != '>' || line[1] == '/') continue;
    const std::string name = line.substr(1, line.size() - 2);
    const std::string close = "</" + name + ">";
    for (size_t inner = next, after; inner < table.size(); inner = after) {
      if (lineAt(table, inner, after) == close) {
        blocks.push_back(Block{name, at, after});
        next = after;
        break;
      }
    }
  }
  return blocks;
}

}  // namespace

ConfigVersion packVersion(const std::string& packPath, std::string& version) {
  RefPtr<KXFileSystem> archive = makeRef<KXFileSystem>(packPath);
  BlockRef entry = readVersionEntry(*archive);
  archive->closeArchive();
  if (!entry) return ConfigVersion::kAbsent;
  return versionOfEntry(entry, version) ? ConfigVersion::kRead : ConfigVersion::kNotASection;
}

bool installedVersion(const std::string& installDir, std::string& version, std::string& error) {
  for (GamePackIndex pack : kVersionPacks) {
    const std::string path = platform::joinPath(installDir, kGamePacks[pack].name);
    switch (packVersion(path, version)) {
      case ConfigVersion::kRead: return true;
      case ConfigVersion::kNotASection:
        error = path + ": " + kVersionEntryName + " is not a data section";
        return false;
      case ConfigVersion::kAbsent: break;
    }
  }
  error = installDir + ": neither " + kGamePacks[kVersionPacks[0]].name + " nor " +
          kGamePacks[kVersionPacks[1]].name + " holds " + kVersionEntryName +
          ", the installation's version";
  return false;
}

bool isVersionText(const std::string& version) {
  return !version.empty() && version.find_first_of("<>\r\n") == std::string::npos;
}

bool isLaterVersion(const std::string& a, const std::string& b) {
  if (!isDecimal(a) || !isDecimal(b)) return std::strcmp(a.c_str(), b.c_str()) > 0;
  auto split = [](const std::string& v, std::string& whole, std::string& fraction) {
    const size_t dot = v.find('.');
    whole = withoutLeadingZeros(v.substr(0, dot));
    fraction = dot == std::string::npos ? std::string() : v.substr(dot + 1);
  };
  std::string wholeA, fractionA, wholeB, fractionB;
  split(a, wholeA, fractionA);
  split(b, wholeB, fractionB);
  if (wholeA.size() != wholeB.size()) return wholeA.size() > wholeB.size();
  if (wholeA != wholeB) return wholeA > wholeB;
  const size_t width = std::max(fractionA.size(), fractionB.size());
  fractionA.resize(width, '0');
  fractionB.resize(width, '0');
  return fractionA > fractionB;
}

bool assembleCheckTable(const std::string& newBlock, const std::string& oldBlock,
                        const std::string& previous, const std::string& from,
                        const std::string& to, std::string& table, std::string& error) {
  std::string rest = previous;
  std::set<std::string> seen;
  const Block* own = nullptr;
  const std::vector<Block> blocks = blocksOf(previous);
  for (const Block& block : blocks) {
    if (!seen.insert(block.name).second) {
      error = "two blocks <" + block.name + ">; the installer reads only the first";
      return false;
    }
    if (block.name.rfind("mox", 0) != 0) continue;
    const std::string version = block.name.substr(3);
    if (version == from) {
      own = &block;
    } else if (!isLaterVersion(from, version)) {
      error = "a block <" + block.name + ">, not older than " + from +
              (version == to ? " (this release makes that block)" : "");
      return false;
    }
  }
  if (own) {
    // The block goes together with the blank line that separates it from the next one.
    size_t end = own->end, next;
    if (end < previous.size() && lineAt(previous, end, next).empty()) end = next;
    rest = previous.substr(0, own->start) + previous.substr(end);
  }
  table = newBlock + "\n" + oldBlock + (rest.empty() ? "" : "\n" + rest);
  return true;
}

}  // namespace release

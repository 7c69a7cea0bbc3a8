// The demo's check table: the two real version blocks among made-up older ones, laid out as the
// shipped table is.
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "integrity/crc32.h"
#include "integrity/game_packs.h"
#include "tools/release/demo_release.h"
#include "tools/release/payload_release.h"
#include "tools/release/release.h"

namespace release {
namespace {

// Older versions, newest first, as the table lists them.
const char* const kOlderVersions[] = {"2.642", "2.640", "2.631", "2.630", "1.200", "1.100",
                                      "1.051", "1.050", "0.900", "0.899", "0.885"};
// Versions the step installers of the PackCheck block move between, oldest first.
const char* const kStepVersions[] = {"0.80",  "0.81",  "0.885", "0.899", "0.900", "1.050",
                                     "1.051", "1.100", "1.200", "2.630", "2.631", "2.640",
                                     "2.642", "2.650"};

uint32_t hashOf(const std::string& text) { return crc32Update(0, text.data(), text.size()); }

// The fingerprint form of installers before 0.900: 32 upper-case hexadecimal digits.
std::string hex32Upper(const std::string& seed) {
  std::string out;
  for (int part = 0; part < 4; ++part) out += crcText(hashOf(seed + "#" + std::to_string(part)));
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

bool above(const char* version, const char* limit) { return isLaterVersion(version, limit); }

std::string olderBlock(const char* version) {
  const bool modern = blockHasSampledCrc(version);
  const bool md5Era = !above(version, "0.899");
  const std::string indent = modern ? "\t" : "    ";
  const std::string eol = modern ? "\n" : "\r\n";
  // The kxres pack came later; the oldest blocks also lack the CN pack.
  std::vector<std::string> keys;
  for (GamePackIndex index : kCheckTableOrder)
    if ((index != kKxresPack || above(version, "1.100")) &&
        (index != kCNPack || above(version, "0.885")))
      keys.push_back(kGamePacks[index].name);
  keys.push_back("bin\\mox.exe");
  std::string block = "<mox" + std::string(version) + ">" + eol;
  for (const std::string& key : keys) {
    const std::string seed = std::string(version) + "/" + key;
    // Made-up values whose form follows the key: gameRes ("gameRes_packed") gets the small
    // packs' form, as the committed demo table has it.
    const bool largePack = key.find("res_packed") != std::string::npos;
    std::string value;
    if (largePack) {
      value = std::to_string(30000000u + hashOf(seed) % 900000000u);
      if (modern) value += crcText(hashOf(seed + "#crc"));
    } else {
      value = md5Era ? hex32Upper(seed) : crcText(hashOf(seed));
    }
    block += indent + "<Halvoreen\\" + key + ">" + value + "</Halvoreen\\" + key + ">" + eol;
  }
  return block + "</mox" + version + ">" + eol;
}

std::string miniCheckBlock() {
  std::string block = "<MiniCheck>\n";
  for (const char* version : kOlderVersions)
    block += "Mini" + std::string(version) + ".exe " + hex32Upper(std::string("mini") + version) +
             " \n";
  return block + "</MiniCheck>\n";
}

std::string packCheckBlock() {
  std::string block = "<PackCheck>\n";
  const size_t steps = sizeof kStepVersions / sizeof kStepVersions[0];
  for (size_t i = 0; i + 1 < steps; ++i) {
    const std::string key = std::string(kStepVersions[i]) + "-" + kStepVersions[i + 1] + "Pack.exe";
    const std::string value =
        above(kStepVersions[i + 1], "0.899") ? crcText(hashOf(key)) : hex32Upper(key);
    block += "\t<" + key + ">" + value + "</" + key + ">\n";
  }
  return block + "</PackCheck>\n";
}

}  // namespace

std::string makeDemoCheckTable(const std::string& newBlock, const std::string& oldBlock) {
  std::string table = newBlock + "\n" + oldBlock;
  for (const char* version : kOlderVersions) table += "\n" + olderBlock(version);
  return table + "\n" + miniCheckBlock() + "\n" + packCheckBlock();
}

}  // namespace release

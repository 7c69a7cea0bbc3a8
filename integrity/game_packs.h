// The six game packs of an installation, described once: the installer, the release tools,
// the benchmarks, the fuzz seeds and the tests all take their names, patch archives, payload
// ids, launcher weights, groups, check-table keys and rows, and console percentages from
// kGamePacks. cmake/Payload.cmake
// reads the payload rows of this file (see the note above the table).
//
// Lives in integrity/: its keys and fingerprint kinds are the check table's vocabulary, and
// every user (app/, tools/, bench/, fuzz/, tests) sits above integrity.
#pragma once

#include <array>
#include <cstddef>

// The run's two groups of packs. They are fingerprinted differently, and the run's texts about
// them differ in small ways that must stay as they are.
enum class PackGroup {
  // The four large packs: size plus a CRC of three sampled windows (the size alone in table
  // blocks up to 1.051).
  SampledCrc,
  // vemo and CN: the CRC of the whole file.
  WholeCrc,
};

struct GamePack {
  const char* name;       // in the installation folder
  const char* patchName;  // its patch archive: a payload file, written beside the pack
  int payloadId;          // the patch's resource id (type "KX")
  // The pack's share of the launcher's progress, relative to the other packs with a patch.
  float weightFactor;
  PackGroup group;
  const char* tableKey;  // its entry in a version block of the check table
  // Where a version block of the check table lists the pack (from 0); the game executable
  // follows the packs.
  int checkTableRow;
  // The console's "preparing" percentage once the pack's patch is written out.
  int consolePercent;
};

// Whether the check table's block of `version` gives the SampledCrc packs their size plus
// sampled CRC, rather than the size alone. The versions are compared as bytes, the terminating
// zero included, as the table's producer did: only those sorting above "1.051" do.
constexpr bool blockHasSampledCrc(const char* version) {
  const char* limit = "1.051";
  for (; *version && *version == *limit; ++version, ++limit) {
  }
  return static_cast<unsigned char>(*version) > static_cast<unsigned char>(*limit);
}

// Indexes of kGamePacks, in the order the installer updates the packs.
enum GamePackIndex : int {
  kQdresPack,
  kGameResPack,
  kKxresPack,
  kResPack,
  kVemoPack,
  kCNPack,
  kGamePackCount
};

// cmake/Payload.cmake embeds each patch under its id by reading this table: a row's first
// line must hold the pack name, the patch name and the id, in that order.
inline constexpr GamePack kGamePacks[kGamePackCount] = {
    {"qdres_packed.kx", "qdres_packedTemp.kx", 122, 1.0f, PackGroup::SampledCrc,
     "Halvoreen\\qdres_packed.kx", 1, 10},
    {"gameRes_packed.kx", "gameRes_packedTemp.kx", 123, 2.0f, PackGroup::SampledCrc,
     "Halvoreen\\gameRes_packed.kx", 0, 15},
    {"kxres_packed.kx", "kxres_packedTemp.kx", 125, 4.0f, PackGroup::SampledCrc,
     "Halvoreen\\kxres_packed.kx", 2, 20},
    {"res_packed.kx", "res_packedTemp.kx", 124, 8.0f, PackGroup::SampledCrc,
     "Halvoreen\\res_packed.kx", 3, 30},
    {"vemo_packed.kx", "vemo_packedTemp.kx", 226, 0.5f, PackGroup::WholeCrc,
     "Halvoreen\\vemo_packed.kx", 4, 40},
    {"CN_packed.kx", "CN_packedTemp.kx", 230, 2.5f, PackGroup::WholeCrc,
     "Halvoreen\\CN_packed.kx", 5, 50},
};

// The installation's folders of loose files, each updated from one payload archive: the
// entries of its patch are files of the folder.
struct LooseFolder {
  const char* name;       // in the installation folder
  const char* patchName;  // its payload archive, written to the installation folder
  int payloadId;          // the archive's resource id (type "KX")
};

enum LooseFolderIndex : int { kBinFolder, kCacheFolder, kLooseFolderCount };

// cmake/Payload.cmake embeds these archives as it does the pack patches (same row layout).
inline constexpr LooseFolder kLooseFolders[kLooseFolderCount] = {
    {"bin", "binTemp.kx", 228},
    {"cache", "cacheTemp.kx", 229},
};

// The game's executable, in the bin folder. The run checks its new content against the check
// table's key "Halvoreen\\bin\\" + this name.
inline constexpr char kGameExecutable[] = "mox.exe";
inline constexpr char kGameExecutableTableKey[] = "Halvoreen\\bin\\mox.exe";

// The packs whose "scripts_config.xml" carries the installed version, in the order the
// installer reads them.
inline constexpr GamePackIndex kVersionPacks[] = {kCNPack, kVemoPack};

namespace game_packs_detail {

constexpr bool sameText(const char* a, const char* b) {
  for (; *a && *a == *b; ++a, ++b) {
  }
  return *a == *b;
}

// "Halvoreen\\" + name.
constexpr bool isTableKeyOf(const char* key, const char* name) {
  for (const char* prefix = "Halvoreen\\"; *prefix; ++prefix, ++key)
    if (*key != *prefix) return false;
  return sameText(key, name);
}

// The pack name with "Temp" before its ".kx".
constexpr bool isPatchNameOf(const char* patch, const char* name) {
  std::size_t n = 0;
  while (name[n]) ++n;
  if (n < 3 || !sameText(name + n - 3, ".kx")) return false;
  for (std::size_t i = 0; i + 3 < n; ++i)
    if (patch[i] != name[i]) return false;
  return sameText(patch + n - 3, "Temp.kx");
}

constexpr bool rowsAreConsistent() {
  for (const GamePack& pack : kGamePacks)
    if (!isTableKeyOf(pack.tableKey, pack.name) || !isPatchNameOf(pack.patchName, pack.name))
      return false;
  return true;
}

// Each check-table row from 0 to kGamePackCount - 1 belongs to exactly one pack.
constexpr bool checkTableRowsArePlaces() {
  for (int row = 0; row < kGamePackCount; ++row) {
    int holders = 0;
    for (const GamePack& pack : kGamePacks) holders += pack.checkTableRow == row ? 1 : 0;
    if (holders != 1) return false;
  }
  return true;
}

constexpr std::array<GamePackIndex, kGamePackCount> checkTableOrder() {
  std::array<GamePackIndex, kGamePackCount> order{};
  for (int pack = 0; pack < kGamePackCount; ++pack)
    if (kGamePacks[pack].checkTableRow >= 0 && kGamePacks[pack].checkTableRow < kGamePackCount)
      order[static_cast<std::size_t>(kGamePacks[pack].checkTableRow)] =
          static_cast<GamePackIndex>(pack);
  return order;
}

}  // namespace game_packs_detail

static_assert(game_packs_detail::rowsAreConsistent(),
              "a pack's key is \"Halvoreen\\\\\" + its name, its patch its name + \"Temp\"");
static_assert(game_packs_detail::checkTableRowsArePlaces(),
              "the packs' check-table rows are 0 to kGamePackCount - 1, one pack each");

// The packs in the order a version block of the check table lists them.
inline constexpr std::array<GamePackIndex, kGamePackCount> kCheckTableOrder =
    game_packs_detail::checkTableOrder();

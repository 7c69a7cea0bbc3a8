// A complete, deterministic test release: the old installation, the state the installer must
// produce from it, and the payload between the two.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "integrity/game_packs.h"
#include "platform/platform.h"
#include "report/run_state.h"
#include "tools/release/release.h"

namespace release {
namespace {

namespace fs = std::filesystem;

using platform::joinPath;

bool writeBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

// Deterministic filler that deflate cannot shrink. It starts with "PK", so the archive stores
// it as it is instead of spending time on a deflate that would not pay.
std::string largeFiller(size_t bytes, uint32_t seed) {
  std::string out(bytes, '\0');
  uint32_t state = seed * 2654435761u + 1;
  for (char& c : out) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    c = static_cast<char>(state >> 24);
  }
  if (bytes >= 2) {
    out[0] = 'P';
    out[1] = 'K';
  }
  return out;
}

bool isChanged(const TestReleaseOptions& options, int pack) {
  for (int changed : options.changedPacks)
    if (changed == pack) return true;
  return false;
}

// The entries of pack `index` at the old version, or at the new one when `changed`.
std::vector<NamedContent> packEntries(const TestReleaseOptions& options, int index, bool atNew) {
  const bool changed = atNew && isChanged(options, index);
  const std::string pack = kGamePacks[index].name;
  std::vector<NamedContent> entries;
  if (kGamePacks[index].group == PackGroup::SampledCrc)
    entries.emplace_back("data/large.bin",
                         largeFiller(options.largePackBytes, static_cast<uint32_t>(index + 1)));
  else
    entries.emplace_back("scripts_config.xml",
                         makeScriptsConfig(changed ? newVersion : oldVersion));
  std::string readme;
  for (int line = 0; line < 40; ++line)
    readme += pack + " line " + std::to_string(line) + " of the readme\n";
  entries.emplace_back("data/readme.txt", changed ? readme + "patched for 2.651\n" : readme);
  entries.emplace_back("data/stable.txt", "unchanged content of " + pack);
  if (changed)
    entries.emplace_back("data/added_in_2651.txt", "new in 2.651: " + pack);
  else
    entries.emplace_back("data/removed_in_2651.txt", "only before 2.651: " + pack);
  return entries;
}

// Applies loose-file entries the way the installer does: write, or delete when empty; names
// that would leave the folder and targets in missing folders are left alone.
bool applyLooseEntries(const std::string& folder, const std::vector<NamedContent>& entries) {
  for (const NamedContent& entry : entries) {
    const fs::path relative(entry.first);
    bool inside = !relative.is_absolute() && !entry.first.empty();
    for (const fs::path& part : relative)
      if (part == "..") inside = false;
    if (!inside) continue;
    const fs::path target = fs::path(folder) / relative;
    if (entry.second.empty()) {
      std::error_code ignored;
      fs::remove(target, ignored);
    } else if (fs::is_directory(target.parent_path())) {
      if (!writeBytes(target.string(), entry.second)) return false;
    }
  }
  return true;
}

bool writeInstallation(const std::string& root, const TestReleaseOptions& options, bool atNew) {
  std::error_code error;
  fs::create_directories(joinPath(root, "bin"), error);
  fs::create_directories(joinPath(root, "cache"), error);
  if (error) return false;
  for (int i = 0; i < kGamePackCount; ++i)
    if (!writeArchive(joinPath(root, kGamePacks[i].name), packEntries(options, i, atNew))) return false;
  const std::string bin = joinPath(root, "bin");
  const std::string cache = joinPath(root, "cache");
  return writeBytes(joinPath(bin, "RakNet.dll"), "network library stand-in\n") &&
         writeBytes(joinPath(bin, "mox.exe"), "game executable " + std::string(oldVersion) + "\n") &&
         writeBytes(joinPath(cache, "shaders.bin"), "compiled shaders " + std::string(oldVersion)) &&
         writeBytes(joinPath(cache, "fonts.bin"), "font cache");
}

}  // namespace

bool makeTestRelease(const std::string& dir, const TestReleaseOptions& options) {
  const std::string oldDir = joinPath(dir, oldVersion);
  const std::string newDir = joinPath(dir, newVersion);
  const std::string payload = joinPath(dir, "payload");
  std::error_code error;
  fs::create_directories(payload, error);
  if (error) return false;
  if (!writeInstallation(oldDir, options, false) || !writeInstallation(newDir, options, true))
    return false;
  if (!applyLooseEntries(joinPath(newDir, "bin"), options.binEntries) ||
      !applyLooseEntries(joinPath(newDir, "cache"), options.cacheEntries))
    return false;

  for (const GamePack& pack : kGamePacks) {
    if (!makePatchArchive(joinPath(oldDir, pack.name), joinPath(newDir, pack.name),
                          joinPath(payload, pack.patchName)))
      return false;
    DeltaCounts counts;
    std::string problem;
    if (options.delta && !deltaPatchArchive(joinPath(oldDir, pack.name), joinPath(newDir, pack.name),
                                            joinPath(payload, pack.patchName), payload, counts,
                                            problem))
      return false;
  }
  if (!writeArchive(joinPath(payload, kLooseFolders[kBinFolder].patchName), options.binEntries) ||
      !writeArchive(joinPath(payload, kLooseFolders[kCacheFolder].patchName),
                    options.cacheEntries))
    return false;

  const std::string table =
      makeCheckTableBlock(newDir, newVersion) + "\n" + makeCheckTableBlock(oldDir, oldVersion);
  std::string problem;
  return writeBytes(joinPath(payload, "MD5.txt"), table) &&
         writeBytes(joinPath(joinPath(newDir, "bin"), "MD5.txt"), table) &&
         writeResultsTable(payload, newDir, oldVersion, newVersion, problem);
}

}  // namespace release

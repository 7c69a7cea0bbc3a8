// The demo release: two installations and the payload between them.
#include "tools/release/demo_release.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

#include "integrity/game_packs.h"
#include "platform/platform.h"
#include "report/run_state.h"
#include "sections/packed_writer.h"
#include "tools/release/loose_patch.h"
#include "tools/release/release.h"

namespace release {
namespace {

namespace fs = std::filesystem;

// The first four packs are at least this large, like the game's, so that their fingerprints
// take the size-plus-sampled-CRC form over three distinct windows.
constexpr size_t kLargePackBytes = 4u << 20;

// A small deterministic generator (xorshift32) seeded from a text, so that every entry's bytes
// depend only on its name.
class Bytes {
 public:
  explicit Bytes(const std::string& seed) {
    for (unsigned char c : seed) state_ = (state_ ^ c) * 16777619u;
    if (state_ == 0) state_ = 1;
  }
  uint32_t next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return state_;
  }
  uint32_t below(uint32_t limit) { return next() % limit; }
  // Noise that deflate cannot shrink, as compressed textures are.
  std::string noise(size_t length) {
    std::string out(length, '\0');
    for (char& c : out) c = static_cast<char>(next() >> 24);
    return out;
  }
  // Lines of words: text that deflates well, as scripts and tables do.
  std::string text(size_t lines) {
    static const char* const kWords[] = {"spawn", "quest", "npc",    "item",  "damage", "level",
                                         "guild", "skill", "region", "timer", "reward", "path",
                                         "mount", "shop",  "trade",  "buff"};
    std::string out;
    for (size_t line = 0; line < lines; ++line) {
      const uint32_t words = 3 + below(8);
      for (uint32_t w = 0; w < words; ++w) out += std::string(w ? " " : "") + kWords[below(16)];
      out += " = " + std::to_string(below(100000)) + "\n";
    }
    return out;
  }
  // A record table of floats: half structure, half noise.
  std::string model(size_t vertices) {
    std::string out = "MODL";
    for (size_t v = 0; v < vertices; ++v) {
      const uint32_t fields[4] = {next() & 0x3F80FFFFu, next() & 0x3F80FFFFu, 0x3F800000u,
                                  static_cast<uint32_t>(v)};
      for (uint32_t field : fields)
        for (int b = 0; b < 4; ++b) out += static_cast<char>(field >> (8 * b));
    }
    return out;
  }

 private:
  uint32_t state_ = 2166136261u;
};

using platform::joinPath;

bool writeBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

bool readBytes(const std::string& path, std::string& bytes) {
  std::ifstream in(path, std::ios::binary);
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return static_cast<bool>(in) || in.eof();
}

// The packed "scripts_config.xml" the installer reads the version from, with the neighbours a
// real one has.
std::string scriptsConfig(const std::string& version) {
  PackedNode root;
  root.add("version", PackedValue::text(version));
  root.add("build", PackedValue::integer(version == oldVersion ? 26500 : 26510));
  root.add("region", PackedValue::text("CN"));
  PackedNode& paths = root.add("paths", PackedValue::text(""));
  paths.add("scripts", PackedValue::text("scripts/client"));
  paths.add("entities", PackedValue::text("scripts/entity_defs"));
  std::string bytes;
  return writePackedFile(root, bytes) ? bytes : std::string();
}

// The pack's entries at 2.650. `nested` is an archive to carry inside gameRes.
std::vector<NamedContent> packAt2650(int index, const std::string& nested) {
  const std::string pack = kGamePacks[index].name;
  static const char* const kAreas[] = {"town", "forest", "desert", "harbor", "dungeon", "sky"};
  static const int kSmallEntries[kGamePackCount] = {30, 70, 20, 50, 42, 22};
  std::vector<NamedContent> entries;
  Bytes bytes(pack);
  size_t total = 0;
  if (kGamePacks[index].group == PackGroup::SampledCrc) {
    for (int i = 0; total < kLargePackBytes + 65536; ++i) {
      const std::string name = "textures/" + std::string(kAreas[i % 6]) + "/tex_" +
                               std::to_string(i) + ".dds";
      entries.emplace_back(name, "DDS " + bytes.noise(96 * 1024 + bytes.below(32 * 1024)));
      total += entries.back().second.size();
    }
  }
  for (int i = 0; i < kSmallEntries[index]; ++i) {
    const std::string area = kAreas[bytes.below(6)];
    switch (i % 3) {
      case 0:
        entries.emplace_back("scripts/" + area + "/logic_" + std::to_string(i) + ".py",
                             bytes.text(20 + bytes.below(200)));
        break;
      case 1:
        entries.emplace_back("models/" + area + "/mesh_" + std::to_string(i) + ".model",
                             bytes.model(64 + bytes.below(512)));
        break;
      default:
        entries.emplace_back("tables/" + area + "_" + std::to_string(i) + ".csv",
                             bytes.text(5 + bytes.below(40)));
    }
  }
  if (index == kGameResPack) entries.emplace_back("maps/tutorial/terrain.kx", nested);
  if (index == kVemoPack) {
    entries.emplace_back("scripts_config.xml", scriptsConfig(oldVersion));
    // Two versions of one script, as in-memory editing leaves them.
    entries.emplace_back("scripts/client/avatar.pyc 1", bytes.text(60));
    entries.emplace_back("scripts/client/avatar.pyc 2", bytes.text(64));
    entries.emplace_back("scripts/client/quest.pyc", bytes.text(120));
    entries.emplace_back("scripts/client/event_2650.pyc", bytes.text(30));
  }
  if (index == kCNPack) {
    entries.emplace_back("scripts_config.xml", scriptsConfig(oldVersion));
    entries.emplace_back("text/zh_CN/ui_strings.txt",
                         "ok=确定\ncancel=取消\nbag=背包\nshop=商店\nquest=任务\n");
    entries.emplace_back("text/zh_CN/tips.txt", "欢迎来到游戏世界。\n" + bytes.text(30));
  }
  return entries;
}

void replaceContent(std::vector<NamedContent>& entries, const std::string& name,
                    const std::string& content) {
  for (NamedContent& entry : entries)
    if (entry.first == name) entry.second = content;
}

void removeEntry(std::vector<NamedContent>& entries, const std::string& name) {
  for (auto it = entries.begin(); it != entries.end(); ++it)
    if (it->first == name) {
      entries.erase(it);
      return;
    }
}

// Whether the pack differs between the two versions. The large packs qdres and res change too,
// so that a run merges into and rewrites multi-MiB packs.
bool changesIn2651(int index) { return index != kGameResPack && index != kKxresPack; }

// The packs that change: qdres and res by a replaced, an added and a deleted texture; vemo by
// five entries (one of them a second version of a versioned name), CN by two; both carry the
// new "scripts_config.xml".
std::vector<NamedContent> packAt2651(int index, const std::string& nested) {
  std::vector<NamedContent> entries = packAt2650(index, nested);
  Bytes bytes(std::string(kGamePacks[index].name) + "@2.651");
  if (index == kQdresPack || index == kResPack) {
    replaceContent(entries, "textures/forest/tex_1.dds", "DDS " + bytes.noise(100 * 1024));
    removeEntry(entries, "textures/desert/tex_2.dds");
    entries.emplace_back("textures/sky/tex_2651.dds", "DDS " + bytes.noise(120 * 1024));
  }
  if (index == kVemoPack) {
    replaceContent(entries, "scripts_config.xml", scriptsConfig(newVersion));
    replaceContent(entries, "scripts/client/avatar.pyc 2", bytes.text(70));
    replaceContent(entries, "scripts/client/quest.pyc", bytes.text(125));
    removeEntry(entries, "scripts/client/event_2650.pyc");
    entries.emplace_back("scripts/client/event_2651.pyc", bytes.text(40));
  }
  if (index == kCNPack) {
    replaceContent(entries, "scripts_config.xml", scriptsConfig(newVersion));
    replaceContent(entries, "text/zh_CN/ui_strings.txt",
                   "ok=确定\ncancel=取消\nbag=背包\nshop=商店\nquest=任务\nmail=邮件\n");
  }
  return entries;
}

std::string gameExecutable(const std::string& version) {
  Bytes bytes("mox.exe");
  std::string image = "MZ" + bytes.noise(62) + "PE" + bytes.model(2048);
  return image + "game client " + version + "\n";
}

struct LooseFile {
  const char* name;
  std::string at2650;  // empty: absent at 2.650
  std::string at2651;  // empty: absent at 2.651
};

std::vector<LooseFile> looseFiles() {
  Bytes bytes("loose");
  const std::string raknet = "RakNet " + bytes.noise(4096);
  const std::string terrain = bytes.model(300);
  const std::string fonts = bytes.noise(2048);
  return {
      {"bin/RakNet.dll", raknet, raknet},
      {"bin/mox.exe", gameExecutable(oldVersion), gameExecutable(newVersion)},
      {"cache/shaders/terrain.cache", terrain, terrain},
      {"cache/shaders/ui.cache", bytes.model(200), bytes.model(210)},
      {"cache/fonts.cache", fonts, fonts},
      {"cache/obsolete.cache", bytes.text(10), ""},
  };
}

bool writeInstallation(const std::string& root, bool atNew, const std::string& nested,
                       const std::string& copyLargePacksFrom, std::string& error) {
  std::error_code code;
  fs::create_directories(joinPath(root, "cache/shaders"), code);
  fs::create_directories(joinPath(root, "bin"), code);
  if (code) {
    error = root + ": cannot make the folders";
    return false;
  }
  for (int i = 0; i < kGamePackCount; ++i) {
    const std::string path = joinPath(root, kGamePacks[i].name);
    // Large packs that do not change: copying them is the same bytes, only faster.
    if (!changesIn2651(i) && !copyLargePacksFrom.empty()) {
      fs::copy_file(joinPath(copyLargePacksFrom, kGamePacks[i].name), path,
                    fs::copy_options::overwrite_existing, code);
      if (!code) continue;
    }
    if (!writeArchive(path, atNew ? packAt2651(i, nested) : packAt2650(i, nested))) {
      error = path + ": cannot write";
      return false;
    }
  }
  for (const LooseFile& file : looseFiles()) {
    const std::string& content = atNew ? file.at2651 : file.at2650;
    const std::string path = joinPath(root, file.name);
    fs::remove(path, code);
    if (!content.empty() && !writeBytes(path, content)) {
      error = path + ": cannot write";
      return false;
    }
  }
  return true;
}

bool nestedArchive(const std::string& dir, std::string& bytes) {
  const std::string path = joinPath(dir, "nested.kx");
  Bytes content("nested");
  const bool made = writeArchive(path, {{"heightmap.raw", content.model(256)},
                                        {"layout.txt", content.text(40)}}) &&
                    readBytes(path, bytes);
  std::error_code ignored;
  fs::remove(path, ignored);
  return made;
}

bool writeLooseArchive(const std::string& oldDir, const std::string& newDir,
                       const std::string& out, std::string& error) {
  std::vector<NamedContent> entries;
  if (!diffFolders(oldDir, newDir, entries, error)) return false;
  if (writeArchive(out, entries)) return true;
  error = out + ": cannot write";
  return false;
}

}  // namespace

bool makeDemoRelease(const std::string& dir, std::string& error) {
  const std::string oldDir = joinPath(dir, oldVersion);
  const std::string newDir = joinPath(dir, newVersion);
  const std::string payload = joinPath(dir, "payload");
  std::error_code code;
  fs::create_directories(payload, code);
  std::string nested;
  if (code || !nestedArchive(payload, nested)) {
    error = dir + ": cannot write";
    return false;
  }
  if (!writeInstallation(oldDir, false, nested, "", error) ||
      !writeInstallation(newDir, true, nested, oldDir, error))
    return false;

  // Released as a studio would release it, with deltas where they are smaller: the installer
  // built with this payload then rebuilds entries from deltas in every end-to-end run.
  for (const GamePack& pack : kGamePacks) {
    const std::string out = joinPath(payload, pack.patchName);
    if (!makePatchArchive(joinPath(oldDir, pack.name), joinPath(newDir, pack.name), out)) {
      error = out + ": cannot write";
      return false;
    }
#ifndef _WIN32
    // The encoder runs on the release machine alone; a Windows build of the tools makes the
    // demo with whole entries.
    DeltaCounts counts;
    if (!deltaPatchArchive(joinPath(oldDir, pack.name), joinPath(newDir, pack.name), out, payload,
                           counts, error))
      return false;
#endif
  }
  // The loose-file archives are made before the installer's own file, MD5.txt, joins bin.
  if (!writeLooseArchive(joinPath(oldDir, "bin"), joinPath(newDir, "bin"),
                         joinPath(payload, "binTemp.kx"), error) ||
      !writeLooseArchive(joinPath(oldDir, "cache"), joinPath(newDir, "cache"),
                         joinPath(payload, "cacheTemp.kx"), error))
    return false;

  const std::string table = makeDemoCheckTable(makeCheckTableBlock(newDir, newVersion),
                                               makeCheckTableBlock(oldDir, oldVersion));
  for (const std::string& path : {joinPath(payload, "MD5.txt"), joinPath(newDir, "bin/MD5.txt")}) {
    if (!writeBytes(path, table)) {
      error = path + ": cannot write";
      return false;
    }
  }
  return writeResultsTable(payload, newDir, oldVersion, newVersion, error);
}

}  // namespace release

// The demo release grown to the size of a real game's packs: every pack of both installations
// gets the same bulk of stored entries, so the patches between them stay the demo's, and the
// check table is made anew from the grown installations.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "archive/kx_file_system.h"
#include "bench/bench_cases.h"
#include "bench/bench_data.h"
#include "integrity/game_packs.h"
#include "report/run_state.h"
#include "tools/release/demo_release.h"
#include "tools/release/release.h"

namespace bench {
namespace {

namespace fs = std::filesystem;

// Entry sizes of the bulk: mostly 32 - 224 KiB, every 64th one a 4 MiB texture.
constexpr uint32_t kBulkLargeBytes = 4u << 20;
constexpr uint32_t kBulkSmallBytes = 32u << 10;
constexpr uint32_t kBulkSpreadBytes = 192u << 10;

bool complain(const std::string& message) {
  std::fprintf(stderr, "kxbench: %s\n", message.c_str());
  return false;
}

std::vector<Entry> bulkEntries(int pack, uint64_t bytes) {
  std::vector<Entry> entries;
  uint64_t total = 0;
  for (uint32_t i = 0; total < bytes; ++i) {
    Entry e;
    char name[64];
    std::snprintf(name, sizeof name, "bulk/%02u/blob_%05u.bin", i / 100, i);
    e.name = name;
    e.seed = static_cast<uint32_t>(pack) * 1000003u + i;
    e.size = i % 64 == 63 ? kBulkLargeBytes
                          : kBulkSmallBytes + (e.seed * 2654435761u) % kBulkSpreadBytes;
    total += e.size;
    entries.push_back(e);
  }
  return entries;
}

// The demo pack's entries as they are stored, plus the bulk.
bool growPack(const std::string& from, const std::string& to, int pack, uint64_t bytes) {
  std::vector<Entry> entries = bulkEntries(pack, bytes);
  KXFileSystemRef demo = makeRef<KXFileSystem>(from);
  for (size_t i = 0; i < demo->records().size(); ++i) {
    const ArchiveFile& record = demo->records()[i];
    if (record.header_.fileNameLength != record.name.size())
      return complain(from + ": a folder entry, which this generator does not copy");
    BlockRef stored = demo->readStoredAt(i);
    if (!stored) return complain(from + ": cannot read " + record.name);
    Entry e;
    e.name = record.name;
    e.given = true;
    e.stored = stored->asString();
    e.method = record.header_.compressionMethod;
    e.uncompressedSize = record.header_.uncompressedSize;
    e.version = record.header_.version;
    entries.push_back(std::move(e));
  }
  demo->closeArchive();
  return writeArchive(to, std::move(entries)) || complain("cannot write " + to);
}

bool writeFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  return static_cast<bool>(out);
}

}  // namespace

bool makeScaledRelease(const std::string& dir, int growMiB) {
  const std::string demo = dir + "/demo";
  std::string error;
  std::error_code code;
  fs::remove_all(dir, code);
  fs::create_directories(dir, code);
  // The fingerprints log to the working directory.
  fs::current_path(dir, code);
  if (code || !release::makeDemoRelease(demo, error)) return complain("demo release: " + error);
  for (const char* version : {oldVersion, newVersion}) {
    const std::string from = demo + "/" + version, to = dir + "/" + version;
    fs::create_directories(to, code);
    fs::copy(from + "/bin", to + "/bin", fs::copy_options::recursive, code);
    fs::copy(from + "/cache", to + "/cache", fs::copy_options::recursive, code);
    if (code) return complain("cannot copy the loose files of " + from);
    fs::remove(to + "/bin/MD5.txt", code);
    for (int i = 0; i < kGamePackCount; ++i) {
      const std::string name = kGamePacks[i].name;
      if (!growPack(from + "/" + name, to + "/" + name, i, uint64_t(growMiB) << 20)) return false;
    }
  }
  fs::copy(demo + "/payload", dir + "/payload", fs::copy_options::recursive, code);
  if (code) return complain("cannot copy the payload");
  const std::string table =
      release::makeDemoCheckTable(release::makeCheckTableBlock(dir + "/" + newVersion, newVersion),
                                  release::makeCheckTableBlock(dir + "/" + oldVersion, oldVersion));
  if (!writeFile(dir + "/payload/MD5.txt", table)) return complain("cannot write the table");
  // The grown packs are other files than the demo's: the results table is taken again.
  if (!release::writeResultsTable(dir + "/payload", dir + "/" + newVersion, oldVersion,
                                  newVersion, error))
    return complain("results table: " + error);
  fs::remove_all(demo, code);
  return true;
}

}  // namespace bench

#include "bench/bench_data.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "archive/kx_format.h"

namespace bench {
namespace {

constexpr uint32_t kLargeEntryBytes = 16u << 20;
constexpr int kLargeEntries = 4;
constexpr int kReplaced = 10, kAdded = 5, kDeleted = 5;
constexpr uint32_t kReplacedBytes = 70000, kAddedBytes = 30000;

const std::string& content(const Entry& e, std::string& scratch) {
  if (e.given) return e.stored;
  fillNoise(scratch, e.size, e.seed);
  return scratch;
}

uint32_t storedSize(const Entry& e) {
  return e.given ? static_cast<uint32_t>(e.stored.size()) : e.size;
}

struct FileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};

std::string itemName(int i) {
  char name[64];
  std::snprintf(name, sizeof name, "gfx/%02d/item%05d.dds", i / 1000, i);
  return name;
}

}  // namespace

void fillNoise(std::string& out, uint32_t size, uint32_t seed) {
  out.resize(size);
  uint64_t x = 0x9E3779B97F4A7C15ull ^ (uint64_t{seed} * 0xD1B54A32D192ED03ull);
  size_t i = 0;
  for (; i + 8 <= size; i += 8) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    for (int b = 0; b < 8; ++b) out[i + b] = static_cast<char>(x >> (8 * b));
  }
  for (; i < size; ++i) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    out[i] = static_cast<char>(x);
  }
}

uint32_t noiseCrc(uint32_t size, uint32_t seed) {
  std::string bytes;
  fillNoise(bytes, size, seed);
  return static_cast<uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
}

bool writeArchive(const std::string& path, std::vector<Entry> entries) {
  std::sort(entries.begin(), entries.end(),
            [](const Entry& a, const Entry& b) { return a.name < b.name; });
  std::unique_ptr<FILE, FileCloser> file(std::fopen(path.c_str(), "wb"));
  if (!file) return false;
  std::string directory, record, scratch;
  uint64_t offset = 0;
  bool ok = true;
  for (const Entry& e : entries) {
    const uint32_t size = storedSize(e);
    LocalHeader h;
    h.signature = kLocalHeaderSignature;
    h.compressedSize = size;
    h.uncompressedSize = e.given ? e.uncompressedSize : size;
    h.version = e.version;
    h.fileNameLength = static_cast<uint16_t>(e.name.size());
    h.flag = e.flag;
    h.compressionMethod = e.given ? e.method : kMethodStored;
    record = encodeLocalHeader(h) + e.name;
    const std::string& bytes = content(e, scratch);
    ok = ok && std::fwrite(record.data(), 1, record.size(), file.get()) == record.size();
    ok = ok && (bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size());

    DirectoryEntry d;
    d.signature = kDirectoryEntrySignature;
    d.compressedSize = h.compressedSize;
    d.uncompressedSize = h.uncompressedSize;
    d.version = d.versionAgain = h.version;
    d.localHeaderOffset = static_cast<int32_t>(offset);
    d.fileNameLength = h.fileNameLength;
    d.flag = e.flag;
    d.compressionMethod = h.compressionMethod;
    directory += encodeDirectoryEntry(d) + e.name;
    offset += record.size() + bytes.size();
  }
  ArchiveFooter f;
  f.signature = kFooterSignature;
  f.directorySize = static_cast<uint32_t>(directory.size());
  f.directoryOffset = static_cast<uint32_t>(offset);
  f.entryCount = f.entryCountAgain = static_cast<uint16_t>(entries.size());
  directory += encodeArchiveFooter(f);
  ok = ok && std::fwrite(directory.data(), 1, directory.size(), file.get()) == directory.size();
  return std::fclose(file.release()) == 0 && ok && offset < (uint64_t{1} << 31);
}

bool writeTree(const std::string& root, const std::vector<Entry>& entries) {
  namespace fs = std::filesystem;
  std::string scratch;
  for (const Entry& e : entries) {
    if (e.flag != 0) continue;
    const fs::path path = fs::path(root) / e.name;
    std::error_code error;
    fs::create_directories(path.parent_path(), error);
    if (error) return false;
    std::unique_ptr<FILE, FileCloser> file(std::fopen(path.c_str(), "wb"));
    const std::string& bytes = content(e, scratch);
    if (!file || (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file.get()) !=
                                        bytes.size()))
      return false;
    if (std::fclose(file.release()) != 0) return false;
  }
  return true;
}

std::vector<Entry> packEntries(uint64_t bytes, int count) {
  std::vector<Entry> entries;
  // Four 16 MiB entries (large textures) when they leave most of the pack to the small ones.
  const int large = bytes >= uint64_t{16} * kLargeEntries * kLargeEntryBytes ? kLargeEntries : 0;
  const uint64_t smallBytes = bytes - uint64_t(large) * kLargeEntryBytes;
  const uint32_t average = static_cast<uint32_t>(smallBytes / uint64_t(count - large));
  uint64_t total = 0;
  for (int i = 0; i < count; ++i) {
    Entry e;
    e.name = itemName(i);
    e.seed = static_cast<uint32_t>(i) + 1;
    const bool isLarge = large > 0 && i % (count / large) == 1;
    e.size = isLarge ? kLargeEntryBytes : average / 2 + (e.seed * 2654435761u) % average;
    total += e.size;
    entries.push_back(e);
  }
  if (total < bytes) entries.back().size += static_cast<uint32_t>(bytes - total);
  return entries;
}

std::vector<Entry> patchEntries(int count) {
  // Spread over the pack, avoiding each other: replaced, added (new names) and deleted entries.
  std::vector<Entry> entries;
  const int step = count / 20;
  for (int i = 0; i < kReplaced; ++i)
    entries.push_back({itemName(step * i + 3), kReplacedBytes, 900000u + i, 0, false, {}, 0, 0, 10});
  for (int i = 0; i < kAdded; ++i)
    entries.push_back({itemName(step * (kReplaced + i) + 5) + ".new", kAddedBytes, 910000u + i, 0,
                       false, {}, 0, 0, 10});
  for (int i = 0; i < kDeleted; ++i)
    entries.push_back({itemName(step * (kReplaced + kAdded + i) + 7), 0, 0, kDeleteMarker, false,
                       {}, 0, 0, 10});
  return entries;
}

std::vector<Entry> applyPatch(std::vector<Entry> pack, const std::vector<Entry>& patch) {
  for (const Entry& p : patch) {
    auto it = std::find_if(pack.begin(), pack.end(), [&](const Entry& e) { return e.name == p.name; });
    if (it == pack.end()) {
      pack.push_back(p);
    } else if (p.flag == kDeleteMarker) {
      pack.erase(it);
    } else {
      *it = p;
    }
  }
  return pack;
}

std::vector<Entry> manySmallEntries(int count) {
  std::vector<Entry> entries;
  for (int i = 0; i < count; ++i) {
    char name[64];
    std::snprintf(name, sizeof name, "res/dir%03d/file%05d.dat", i % 256, i);
    entries.push_back({name, 17 + static_cast<uint32_t>(i % 54), static_cast<uint32_t>(i) + 7, 0,
                       false, {}, 0, 0, 10});
  }
  return entries;
}

}  // namespace bench

// Merging a small patch (10 replaced, 5 added, 5 deleted entries) into a generated pack of at
// least 1 GiB and 20,000 entries and writing the new archive, against `cp` of the same pack;
// both followed by `sync`. Also reports the process's peak resident memory.
// Usage: archive_merge_bench [scratch folder] [runs]
// The scratch folder (default /tmp) gets a subfolder that is removed at the end.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "archive/kx_file_system.h"
#include "archive/kx_format.h"
#include "report/run_state.h"

namespace {

constexpr uint64_t kPackBytes = uint64_t{1} << 30;
constexpr int kEntries = 20000;
constexpr int kLargeEntries = 4;
constexpr uint32_t kLargeEntryBytes = 16u << 20;

struct Entry {
  std::string name;
  uint32_t size = 0;
  uint32_t seed = 0;
  uint16_t flag = 0;
};

// Incompressible content, made on the fly so that no pack is ever held in memory.
void fill(std::string& out, uint32_t size, uint32_t seed) {
  out.resize(size);
  uint64_t x = 0x9E3779B97F4A7C15ull ^ seed;
  for (uint32_t i = 0; i < size; ++i) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    out[i] = static_cast<char>(x);
  }
}

// Streams the entries (already in name order) as a stored-only archive.
bool writeArchive(const std::string& path, const std::vector<Entry>& entries) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  std::string directory, record, content;
  uint32_t offset = 0;
  for (const Entry& e : entries) {
    fill(content, e.size, e.seed);
    LocalHeader h;
    h.signature = kLocalHeaderSignature;
    h.compressedSize = h.uncompressedSize = e.size;
    h.version = kFormatVersion;
    h.fileNameLength = static_cast<uint16_t>(e.name.size());
    h.flag = e.flag;
    record = encodeLocalHeader(h) + e.name;
    std::fwrite(record.data(), 1, record.size(), file);
    std::fwrite(content.data(), 1, content.size(), file);

    DirectoryEntry d;
    d.signature = kDirectoryEntrySignature;
    d.compressedSize = d.uncompressedSize = e.size;
    d.version = d.versionAgain = kFormatVersion;
    d.localHeaderOffset = static_cast<int32_t>(offset);
    d.fileNameLength = h.fileNameLength;
    d.flag = e.flag;
    directory += encodeDirectoryEntry(d) + e.name;
    offset += static_cast<uint32_t>(record.size() + content.size());
  }
  ArchiveFooter f;
  f.signature = kFooterSignature;
  f.directorySize = static_cast<uint32_t>(directory.size());
  f.directoryOffset = offset;
  f.entryCount = f.entryCountAgain = static_cast<uint16_t>(entries.size());
  directory += encodeArchiveFooter(f);
  std::fwrite(directory.data(), 1, directory.size(), file);
  return std::fclose(file) == 0;
}

std::string itemName(int i) {
  char name[64];
  std::snprintf(name, sizeof name, "gfx/%02d/item%05d.dds", i / 1000, i);
  return name;
}

std::vector<Entry> packEntries() {
  std::vector<Entry> entries;
  const uint64_t smallBytes = kPackBytes - uint64_t{kLargeEntries} * kLargeEntryBytes;
  const uint32_t average = static_cast<uint32_t>(smallBytes / (kEntries - kLargeEntries));
  uint64_t total = 0;
  for (int i = 0; i < kEntries; ++i) {
    Entry e;
    e.name = itemName(i);
    e.seed = static_cast<uint32_t>(i) + 1;
    e.size = i % (kEntries / kLargeEntries) == 1 ? kLargeEntryBytes
                                                 : average / 2 + (e.seed * 2654435761u) % average;
    total += e.size;
    entries.push_back(e);
  }
  if (total < kPackBytes) entries.back().size += static_cast<uint32_t>(kPackBytes - total);
  return entries;
}

std::vector<Entry> patchEntries() {
  std::vector<Entry> entries;
  for (int i = 0; i < 10; ++i) entries.push_back({itemName(500 + i * 1900), 70000, 900000u + i, 0});
  for (int i = 0; i < 5; ++i) entries.push_back({itemName(700 + i * 3000) + ".new", 30000, 910000u + i, 0});
  for (int i = 0; i < 5; ++i) entries.push_back({itemName(300 + i * 2500), 0, 0, kDeleteMarker});
  std::sort(entries.begin(), entries.end(),
            [](const Entry& a, const Entry& b) { return a.name < b.name; });
  return entries;
}

double secondsOf(const std::function<bool()>& work, bool* ok) {
  const auto start = std::chrono::steady_clock::now();
  *ok = work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double cpuSeconds(int who) {
  rusage usage{};
  getrusage(who, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long peakKiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  const fs::path scratch = fs::path(argc > 1 ? argv[1] : "/tmp") / "kx_merge_bench";
  const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
  fs::remove_all(scratch);
  fs::create_directories(scratch);
  const std::string pack = (scratch / "res_packed.kx").string();
  const std::string patch = (scratch / "res_packedTemp.kx").string();
  const std::string copy = (scratch / "copy.kx").string();
  const std::string log = (scratch / "updater.log").string();
  fs::current_path(scratch);  // "updater.log"/"pack.log" of the archive code land here

  const std::vector<Entry> entries = packEntries();
  uint64_t largest = 0;
  for (const Entry& e : entries) largest = std::max<uint64_t>(largest, e.size);
  if (!writeArchive(pack, entries) || !writeArchive(patch, patchEntries())) {
    std::fprintf(stderr, "cannot write the scratch archives in %s\n", scratch.c_str());
    return 1;
  }
  std::system("sync");
  const long generationPeak = peakKiB();
  std::printf("pack: %llu bytes, %d entries, largest entry %llu bytes\n",
              static_cast<unsigned long long>(fs::file_size(pack)), kEntries,
              static_cast<unsigned long long>(largest));

  // cp and the merge run back to back in each round, so that both meet the same load; the
  // ratio is taken per round and its median reported. CPU seconds (user + system) are given
  // too: on a shared machine they move far less than wall time.
  const std::string cpCommand = "cp '" + pack + "' '" + copy + "' && sync";
  std::vector<double> ratios;
  progressLabel = "merge ";
  for (int run = 0; run < runs; ++run) {
    bool ok = false;
    const double cpCpuBefore = cpuSeconds(RUSAGE_CHILDREN);
    const double cpWall = secondsOf([&] { return std::system(cpCommand.c_str()) == 0; }, &ok);
    const double cpCpu = cpuSeconds(RUSAGE_CHILDREN) - cpCpuBefore;
    fs::remove(copy);
    if (!ok) return 1;

    double openMerge = 0, write = 0;
    const double mergeCpuBefore = cpuSeconds(RUSAGE_SELF);
    const double mergeWall = secondsOf(
        [&] {
          bool written = false;
          KXFileSystemRef installed, source;
          openMerge = secondsOf([&] {
            installed.reset(new KXFileSystem(pack));
            source.reset(new KXFileSystem(patch));
            return installed->mergePatch(*source);
          }, &written);
          write = secondsOf([&] { return installed->createNewZip(pack, log, source.get()); },
                            &written);
          installed->closeArchive();
          source->closeArchive();
          return written && std::system("sync") == 0;
        },
        &ok);
    const double mergeCpu = cpuSeconds(RUSAGE_SELF) - mergeCpuBefore;
    if (!ok) return 1;
    ratios.push_back(mergeWall / cpWall);
    std::printf("\nround %d: cp + sync %.2f s (cpu %.2f s); open + merge %.2f s, createNewZip "
                "%.2f s, with sync %.2f s (cpu %.2f s); ratio %.2f\n",
                run + 1, cpWall, cpCpu, openMerge, write, mergeWall, mergeCpu, ratios.back());
    KXFileSystemRef result(new KXFileSystem(pack + "temp"));
    if (result->entryCount() != kEntries) {
      std::fprintf(stderr, "wrong entry count %d\n", result->entryCount());
      return 1;
    }
    result->closeArchive();
    fs::remove(pack + "temp");
  }
  std::sort(ratios.begin(), ratios.end());
  const long peak = peakKiB();
  std::printf("ratio merge / cp: median %.2f of %d rounds (range %.2f - %.2f)\n",
              ratios[ratios.size() / 2], runs, ratios.front(), ratios.back());
  std::printf("peak RSS: %.1f MiB (generation alone %.1f MiB); budget 100 MiB + 2 x %.1f MiB + "
              "32 MiB = %.1f MiB\n",
              peak / 1024.0, generationPeak / 1024.0, largest / 1048576.0,
              100 + 2 * largest / 1048576.0 + 32);
  fs::current_path("/");
  fs::remove_all(scratch);
  return 0;
}

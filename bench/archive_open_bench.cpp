// Opening a full-size archive (65,535 entries, the format's limit) and reading every entry once.
// Prints entries per second and, where `zip` and `unzip` are installed, the same work measured
// for `unzip -l` (listing) and `unzip -p` (extracting to a pipe) on a standard ZIP holding the
// same names and contents.
//
// Usage: archive_open_bench [scratch folder] [runs]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "archive/kx_file_system.h"
#include "archive/kx_format.h"

namespace fs = std::filesystem;

namespace {

constexpr int kEntries = 65535;

std::string entryName(int i) {
  char name[64];
  std::snprintf(name, sizeof name, "res/dir%03d/file%05d.dat", i % 256, i);
  return name;
}

std::string entryContent(int i) {
  return "content of entry " + std::to_string(i) + std::string(static_cast<size_t>(i % 48), 'x');
}

// Stored entries in name order, laid out the way the writer lays them out.
std::string buildArchive() {
  std::string bytes;
  ByteWriter out(bytes);
  std::vector<uint32_t> offsets;
  std::vector<std::string> names;
  for (int i = 0; i < kEntries; ++i) names.push_back(entryName(i));
  std::sort(names.begin(), names.end());
  std::vector<std::string> contents;
  for (int i = 0; i < kEntries; ++i) contents.push_back(entryContent(i));
  for (int i = 0; i < kEntries; ++i) {
    offsets.push_back(static_cast<uint32_t>(bytes.size()));
    LocalHeader h;
    h.signature = kLocalHeaderSignature;
    h.compressedSize = h.uncompressedSize = static_cast<uint32_t>(contents[i].size());
    h.version = kFormatVersion;
    h.fileNameLength = static_cast<uint16_t>(names[i].size());
    encodeLocalHeader(h, out);
    out.text(names[i]);
    out.text(contents[i]);
  }
  const uint32_t directoryOffset = static_cast<uint32_t>(bytes.size());
  for (int i = 0; i < kEntries; ++i) {
    DirectoryEntry e;
    e.signature = kDirectoryEntrySignature;
    e.compressedSize = e.uncompressedSize = static_cast<uint32_t>(contents[i].size());
    e.version = e.versionAgain = kFormatVersion;
    e.localHeaderOffset = static_cast<int32_t>(offsets[i]);
    e.fileNameLength = static_cast<uint16_t>(names[i].size());
    encodeDirectoryEntry(e, out);
    out.text(names[i]);
  }
  ArchiveFooter f;
  f.signature = kFooterSignature;
  f.directorySize = static_cast<uint32_t>(bytes.size()) - directoryOffset;
  f.directoryOffset = directoryOffset;
  f.entryCount = f.entryCountAgain = static_cast<uint16_t>(kEntries);
  encodeArchiveFooter(f, out);
  return bytes;
}

double seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

bool haveTool(const char* name) {
  return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

double timeCommand(const std::string& command) {
  const auto start = std::chrono::steady_clock::now();
  if (std::system(command.c_str()) != 0) return -1;
  return seconds(start);
}

}  // namespace

int main(int argc, char** argv) {
  const fs::path scratch = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path() / "kx_open_bench";
  const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
  fs::create_directories(scratch);
  const fs::path archive = scratch / "bench.kx";
  {
    const std::string bytes = buildArchive();
    std::ofstream(archive, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    std::printf("archive: %d entries, %zu bytes\n", kEntries, bytes.size());
  }
  // Logs of a failed open would land in the current folder: keep them in the scratch folder.
  fs::current_path(scratch);

  std::vector<double> openTimes, readTimes, scatteredTimes;
  for (int run = 0; run <= runs; ++run) {
    const auto start = std::chrono::steady_clock::now();
    KXFileSystemRef kx = makeRef<KXFileSystem>(archive.string());
    const double opened = seconds(start);
    if (kx->entryCount() != kEntries) {
      std::fprintf(stderr, "open failed: %d entries\n", kx->entryCount());
      return 1;
    }
    // In archive order, as the installer walks an archive; then by name in creation order,
    // which hops around the file.
    const auto readStart = std::chrono::steady_clock::now();
    for (const ArchiveFile& record : kx->records()) {
      if (!kx->readFile(record.name)) {
        std::fprintf(stderr, "read of %s failed\n", record.name.c_str());
        return 1;
      }
    }
    const double readInOrder = seconds(readStart);
    const auto scatteredStart = std::chrono::steady_clock::now();
    for (int i = 0; i < kEntries; ++i) {
      if (!kx->readFile(entryName(i))) return 1;
    }
    const double readScattered = seconds(scatteredStart);
    if (run == 0) continue;  // warm-up
    openTimes.push_back(opened);
    readTimes.push_back(readInOrder);
    scatteredTimes.push_back(readScattered);
  }
  const double open = median(openTimes), read = median(readTimes);
  const double scattered = median(scatteredTimes);
  std::printf("open:                      %.3f s  %10.0f entries/s\n", open, kEntries / open);
  std::printf("read all, archive order:   %.3f s  %10.0f entries/s\n", read, kEntries / read);
  std::printf("read all, scattered order: %.3f s  %10.0f entries/s\n", scattered,
              kEntries / scattered);
  std::printf("open + read (archive order): %.3f s  %10.0f entries/s\n", open + read, kEntries / (open + read));

  if (!haveTool("zip") || !haveTool("unzip")) {
    std::printf("zip or unzip not installed: no comparison\n");
    return 0;
  }
  const fs::path tree = scratch / "tree";
  const fs::path zip = scratch / "bench.zip";
  fs::remove_all(tree);
  fs::remove(zip);
  for (int i = 0; i < kEntries; ++i) {
    const fs::path file = tree / entryName(i);
    fs::create_directories(file.parent_path());
    const std::string content = entryContent(i);
    std::ofstream(file, std::ios::binary).write(content.data(), static_cast<std::streamsize>(content.size()));
  }
  // Stored (-0), files only (-D): the same entries as the archive.
  if (timeCommand("cd '" + tree.string() + "' && zip -q -0 -D -r '" + zip.string() + "' res") < 0) {
    std::printf("zip failed: no comparison\n");
    return 0;
  }
  std::vector<double> listTimes, extractTimes;
  for (int run = 0; run <= runs; ++run) {
    const double list = timeCommand("unzip -l '" + zip.string() + "' >/dev/null");
    const double extract = timeCommand("unzip -p '" + zip.string() + "' >/dev/null");
    if (run == 0) continue;
    listTimes.push_back(list);
    extractTimes.push_back(extract);
  }
  const double list = median(listTimes), extract = median(extractTimes);
  std::printf("unzip -l:                  %.3f s  %10.0f entries/s\n", list, kEntries / list);
  std::printf("unzip -p:                  %.3f s  %10.0f entries/s\n", extract, kEntries / extract);
  std::printf("ratio open / unzip -l:          %.2f\n", open / list);
  std::printf("ratio open+read / unzip -p:     %.2f\n", (open + read) / extract);
  fs::remove_all(tree);
  fs::remove(zip);
  fs::remove(archive);
  return 0;
}

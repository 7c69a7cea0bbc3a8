// Any bytes as a patch archive, merged into a valid pack and written out the way the update
// run does it; the result is then read back. A written archive must open with every record the
// merge left, every record's bytes must be where its header says, and entries the patch does
// not name must come back unchanged.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <new>
#include <string>
#include <vector>

#include "archive/kx_file_system.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/seed_archives.h"
#include "tools/release/release.h"

namespace {

void check(bool condition) {
  if (!condition) __builtin_trap();
}

struct Pack {
  std::string path;
  std::map<std::string, std::string> content;
};

const Pack& installedPack() {
  static const Pack pack = [] {
    Pack made;
    made.path = fuzz_support::workDir() + "/installed.kx";
    const std::vector<release::NamedContent> entries = fuzz_seeds::packEntries();
    check(release::writeArchive(made.path, entries));
    for (const auto& entry : entries) made.content[entry.first] = entry.second;
    return made;
  }();
  return pack;
}

// True when the patch names `name` or a version of it, so that the entry may change.
bool patchTouches(const std::vector<std::string>& patchNames, const std::string& name) {
  for (const std::string& patchName : patchNames)
    if (patchName.compare(0, name.size(), name) == 0 || name.compare(0, patchName.size(), patchName) == 0)
      return true;
  return false;
}

}  // namespace

// The writer takes a buffer of megabytes for every archive. Under AddressSanitizer each fresh
// buffer of that size costs a new mapping and its shadow (tenths of a second here), which would
// hold the target to a few inputs a second; so large array allocations are recycled: a freed
// one is kept and handed out again for the same size. Their ends keep their red zones; a read
// past them is still caught.
namespace {
constexpr std::size_t kRecycledMinBytes = std::size_t{1} << 20;
constexpr int kRecycledSlots = 4;
struct Recycled {
  void* bytes = nullptr;
  std::size_t size = 0;
};
Recycled recycled[kRecycledSlots];
std::map<void*, std::size_t>* largeSizes() {
  static auto* sizes = new std::map<void*, std::size_t>();
  return sizes;
}
}  // namespace

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  if (size < kRecycledMinBytes) return std::malloc(size == 0 ? 1 : size);
  for (Recycled& slot : recycled) {
    if (slot.bytes && slot.size == size) {
      void* bytes = slot.bytes;
      slot = Recycled();
      (*largeSizes())[bytes] = size;
      return bytes;
    }
  }
  void* bytes = std::malloc(size);
  if (bytes) (*largeSizes())[bytes] = size;
  return bytes;
}

void* operator new[](std::size_t size) {
  void* bytes = operator new[](size, std::nothrow);
  if (!bytes) throw std::bad_alloc();
  return bytes;
}

void operator delete[](void* bytes) noexcept {
  if (!bytes) return;
  auto found = largeSizes()->find(bytes);
  if (found != largeSizes()->end()) {
    const std::size_t size = found->second;
    largeSizes()->erase(found);
    for (Recycled& slot : recycled) {
      if (!slot.bytes) {
        slot = Recycled{bytes, size};
        return;
      }
    }
  }
  std::free(bytes);
}

void operator delete[](void* bytes, std::size_t) noexcept { operator delete[](bytes); }
void operator delete[](void* bytes, const std::nothrow_t&) noexcept { operator delete[](bytes); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_support::InWorkDir inWorkDir;
  const Pack& pack = installedPack();
  fuzz_support::clearLogs();
  const std::string patchPath = fuzz_support::writeInput("patch.kx", data, size);
  const std::string logPath = fuzz_support::workDir() + "/run.log";

  KXFileSystemRef patch = makeRef<KXFileSystem>(patchPath);
  std::vector<std::string> patchNames;
  for (const ArchiveFile& record : patch->records()) patchNames.push_back(record.name);

  KXFileSystemRef installed = makeRef<KXFileSystem>(pack.path);
  check(installed->entryCount() == static_cast<int32_t>(pack.content.size()));
  (void)installed->mergePatch(*patch);
  const int32_t merged = installed->entryCount();
  const bool written = static_cast<bool>(installed->createNewZip(pack.path, patch.get()));
  installed->closeArchive();
  patch->closeArchive();
  std::remove(logPath.c_str());
  if (!written) return 0;

  KXFileSystemRef result = makeRef<KXFileSystem>(pack.path + "temp");
  check(result->entryCount() == merged);
  // Every entry was copied whole, whatever its method: its stored bytes lie inside the file.
  for (size_t i = 0; i < result->records().size(); ++i)
    check(static_cast<bool>(result->readStoredAsIs(i)));
  for (const auto& entry : pack.content) {
    if (patchTouches(patchNames, entry.first)) continue;
    BlockRef content = result->readFile(entry.first);
    check(content && content->asString() == entry.second);
  }
  for (const ArchiveFile& record : result->records()) (void)result->readFile(record.name);
  result->closeArchive();
  return 0;
}

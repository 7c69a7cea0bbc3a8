#include "fuzz/fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <vector>

namespace fs = std::filesystem;

namespace fuzz_support {

const std::string& workDir() {
  static const std::string dir = [] {
    std::random_device entropy;
    std::error_code error;
    const fs::path base = fs::is_directory("/dev/shm", error) ? fs::path("/dev/shm")
                                                               : fs::temp_directory_path();
    const fs::path path =
        base / ("kxpatch-fuzz-" + std::to_string(entropy()) + std::to_string(entropy()));
    fs::create_directories(path);
    static const std::string removeAtExit = path.string();
    std::atexit([] {
      std::error_code ignored;
      fs::remove_all(removeAtExit, ignored);
    });
    // Progress lines would drown libFuzzer's own output on standard error.
    if (!std::freopen("/dev/null", "w", stdout)) std::fclose(stdout);
    return path.string();
  }();
  return dir;
}

InWorkDir::InWorkDir() : previous_(fs::current_path().string()) {
  fs::current_path(workDir());
}

InWorkDir::~InWorkDir() { fs::current_path(previous_); }

std::string writeInput(const std::string& name, const uint8_t* data, size_t size) {
  const std::string path = workDir() + "/" + name;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  return path;
}

void clearLogs() {
  std::error_code ignored;
  for (const char* log : {"updater.log", "pack.log"}) fs::remove(workDir() + "/" + log, ignored);
}

namespace {

void readEveryValue(DataSection& section) {
  (void)section.name();
  (void)section.sizeInBytes();
  (void)section.isStructured();
  (void)section.hasValidName();
  (void)section.getBool(true);
  (void)section.getInt(-7);
  (void)section.getLong(-7);
  (void)section.getFloat(1.5f);
  (void)section.getDouble(2.5);
  for (int mode = 0; mode < 3; ++mode) {
    (void)section.getText("default", mode);
    (void)section.getWideText(u"default", mode);
  }
  (void)section.getVector2(Vector2{1, 2});
  (void)section.getVector3(Vector3{1, 2, 3});
  (void)section.getVector4(Vector4{1, 2, 3, 4});
  (void)section.getMatrix(Matrix{});
  BlockRef block = section.getBlock();
  if (block && block->length() > 0) {
    // Touch both ends so that a block reaching past its storage shows up.
    volatile unsigned char first = block->data()[0];
    volatile unsigned char last = block->data()[block->length() - 1];
    (void)first;
    (void)last;
  }
  (void)section.getBlobText("default");
}

}  // namespace

void walkSection(const SectionRef& section, int depthLimit, int& nodeBudget) {
  if (!section || depthLimit <= 0 || nodeBudget <= 0) return;
  --nodeBudget;
  readEveryValue(*section);

  const int count = section->childCount();
  std::vector<SectionRef> children;
  for (int i = -1; i <= count; ++i) {
    SectionRef child = section->childAt(i);
    const std::string name = section->childNameAt(i);
    if (i < 0 || i >= count) continue;
    if (child) {
      (void)section->indexOfChild(child);
      children.push_back(child);
    }
    // The path helpers walk by name; a name with separators is a path of its own.
    (void)section->findChild(name);
    (void)section->openSection(name);
    (void)section->readText(name + "/" + name, "default");
    (void)section->readVector3At(name, Vector3{});
    std::vector<SectionRef> collected;
    section->collectChildren(name, collected);
  }
  for (ChildIterator it = section->begin(); it != section->end(); ++it) {
    SectionRef child = *it;
    (void)it.name();
    if (!child) __builtin_trap();  // dereferencing promises a section for every index
  }
  for (const SectionRef& child : children) walkSection(child, depthLimit - 1, nodeBudget);
}

}  // namespace fuzz_support

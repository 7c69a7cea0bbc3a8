// Differences between two versions of a loose-file folder, as payload archive entries.
#include "tools/release/loose_patch.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <system_error>

namespace release {
namespace {

namespace fs = std::filesystem;

bool readBytes(const fs::path& path, std::string& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

}  // namespace

bool readFolder(const std::string& dir, std::vector<NamedContent>& files, std::string& error) {
  files.clear();
  std::error_code code;
  if (!fs::is_directory(dir, code)) {
    error = dir + ": not a folder";
    return false;
  }
  fs::recursive_directory_iterator it(dir, code), end;
  for (; !code && it != end; it.increment(code)) {
    // A link's target may lie anywhere: packing it would ship a file that is not the folder's.
    if (it->is_symlink(code)) {
      error = it->path().string() + ": a link (only plain files and folders are read)";
      return false;
    }
    if (!it->is_regular_file(code)) continue;
    NamedContent file;
    file.first = it->path().lexically_relative(dir).generic_string();
    if (!readBytes(it->path(), file.second)) {
      error = it->path().string() + ": cannot be read";
      return false;
    }
    files.push_back(std::move(file));
  }
  if (code) {
    error = dir + ": " + code.message();
    return false;
  }
  std::sort(files.begin(), files.end());
  return true;
}

bool diffFolders(const std::string& oldDir, const std::string& newDir,
                 std::vector<NamedContent>& entries, std::string& error) {
  entries.clear();
  std::vector<NamedContent> before, after;
  if (!readFolder(oldDir, before, error) || !readFolder(newDir, after, error)) return false;
  const std::map<std::string, std::string> old(before.begin(), before.end());
  std::set<std::string> kept;
  for (const NamedContent& file : after) {
    kept.insert(file.first);
    auto found = old.find(file.first);
    if (found != old.end() && found->second == file.second) continue;
    if (file.second.empty()) {
      error = file.first + ": an empty file cannot be shipped (an empty entry deletes its file)";
      return false;
    }
    entries.push_back(file);
  }
  for (const NamedContent& file : before)
    if (!kept.count(file.first)) entries.emplace_back(file.first, std::string());
  std::sort(entries.begin(), entries.end());
  return true;
}

}  // namespace release

// How caller paths and stored names are brought to the one form the index is keyed by.
#include "archive/kx_file_system.h"

std::string normalisePath(const std::string& path) {
  std::string out;
  out.reserve(path.size());
  for (char c : path) {
    if (c == '\\') c = '/';
    if (c == '/' && !out.empty() && out.back() == '/') continue;
    out += c;
  }
  if (!out.empty() && out.front() == '/') out.erase(0, 1);
  if (!out.empty() && out.back() == '/') out.pop_back();
  return out;
}

void KXFileSystem::zip_resolvePath(std::string& path, bool stripArchivePrefix) const {
  if (path_.empty()) return;
  path = normalisePath(path);
  if (path.empty()) return;
  if (!stripArchivePrefix) return;

  // Callers may name an entry through the archive's own path, "<archive>/<entry>".
  const std::string archivePath = normalisePath(path_);
  const size_t at = archivePath.empty() ? std::string::npos : path.find(archivePath);
  if (at != std::string::npos) {
    const size_t rest = at + archivePath.size() + 1;
    path = rest < path.size() ? path.substr(rest) : std::string();
  }
  // "<dir>/." names the directory itself.
  if (path.size() > 1 && path.back() == '.') path.erase(path.size() - 2);
}

void KXFileSystem::resolveVersionName(std::string& path) const {
  if (versionCounts.count(path)) path += " 1";
}

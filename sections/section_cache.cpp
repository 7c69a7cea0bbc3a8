#include "sections/section_cache.h"

#include <map>
#include <set>

namespace {

// The per-thread cache. It holds no references: a section leaves it as it is destroyed, so
// every entry names a live section.
class DSCStuff : public SafeReferenceCount {
 public:
  std::map<std::string, DataSection*> byPath;
  std::map<const DataSection*, std::string> bySection;
};

// The cache pointer is a plain thread-local so that sections destroyed after this thread's
// thread-local objects (the process-wide ones, at exit) still find it safely empty.
thread_local DSCStuff* tCache = nullptr;

struct CacheHolder {
  RefPtr<DSCStuff> cache;
  ~CacheHolder() { tCache = nullptr; }
};

DSCStuff& threadCache() {
  thread_local CacheHolder holder;
  if (!holder.cache) {
    holder.cache = makeRef<DSCStuff>();
    tCache = holder.cache.get();
  }
  return *holder.cache;
}

SectionRef& rootSlot() {
  static SectionRef root;
  return root;
}

std::set<std::string>& failedPaths() {
  static std::set<std::string> paths;
  return paths;
}

bool gTraceDone = false;

// The paths whose failure is worth a diagnostic replay of the lookup.
bool worthTracing(const std::string& path) {
  auto has = [&path](const char* part) { return path.find(part) != std::string::npos; };
  return has(".model") || (has("scripts/common") && !has("DLLs")) || has("spaces/mw_090731");
}

}  // namespace

void setResourceRoot(const SectionRef& root) { rootSlot() = root; }
SectionRef resourceRoot() { return rootSlot(); }

SectionRef openResource(const std::string& path) {
  DSCStuff& cache = threadCache();
  auto hit = cache.byPath.find(path);
  if (hit != cache.byPath.end() && hit->second->refCount() > 0) return SectionRef(hit->second);

  SectionRef root = rootSlot();
  if (!root) return SectionRef();
  SectionRef found = root->openSection(path, false);
  if (!found && worthTracing(path) && failedPaths().count(path) == 0) {
    root->startTraceSection(path);
    failedPaths().insert(path);
    gTraceDone = true;
  }
  return found;
}

bool resolveParent(const std::string& path, SectionRef& parent, std::string& leafName) {
  const size_t slash = path.rfind('/');
  SectionRef found =
      slash == std::string::npos ? rootSlot() : openResource(path.substr(0, slash));
  if (!found) return false;
  leafName = slash == std::string::npos ? path : path.substr(slash + 1);
  parent = found;
  return true;
}

bool sectionTraceDone() { return gTraceDone; }

void cacheSection(const std::string& path, DataSection* section) {
  DSCStuff& cache = threadCache();
  removeFromSectionCache(section);
  auto old = cache.byPath.find(path);
  if (old != cache.byPath.end()) cache.bySection.erase(old->second);
  cache.byPath[path] = section;
  cache.bySection[section] = path;
}

void removeFromSectionCache(const DataSection* section) {
  if (!tCache) return;
  auto entry = tCache->bySection.find(section);
  if (entry == tCache->bySection.end()) return;
  tCache->byPath.erase(entry->second);
  tCache->bySection.erase(entry);
}

// POSIX (Linux) probes for the system-information report: /proc, /sys, statvfs, getifaddrs,
// uname and the locale settings stand in for the Windows calls.
#include "platform/sysinfo.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

#include <dirent.h>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <arpa/inet.h>
#include <sys/resource.h>
#include <sys/statvfs.h>
#include <sys/sysinfo.h>
#include <sys/utsname.h>
#include <unistd.h>

namespace platform {
namespace {

// A small text file (a /proc or /sys entry) whole; empty when it cannot be read.
std::string readSmallFile(const std::string& path, size_t limit = 1 << 20) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return std::string();
  std::string text;
  char buffer[4096];
  size_t n;
  while (text.size() < limit && (n = std::fread(buffer, 1, sizeof buffer, file)) > 0)
    text.append(buffer, n);
  std::fclose(file);
  return text;
}

std::string trimmed(const std::string& text) {
  size_t start = text.find_first_not_of(" \t\r\n");
  if (start == std::string::npos) return std::string();
  size_t end = text.find_last_not_of(" \t\r\n");
  return text.substr(start, end - start + 1);
}

// The value of "key : value" lines of a /proc text, in order.
std::vector<std::string> fieldValues(const std::string& text, const std::string& key) {
  std::vector<std::string> values;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    at = end + 1;
    size_t colon = line.find(':');
    if (colon == std::string::npos || trimmed(line.substr(0, colon)) != key) continue;
    values.push_back(trimmed(line.substr(colon + 1)));
  }
  return values;
}

// The value of a "KEY=value" line of a uevent text, or empty.
std::string keyValue(const std::string& text, const std::string& key) {
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    if (text.compare(at, key.size() + 1, key + "=") == 0)
      return text.substr(at + key.size() + 1, end - at - key.size() - 1);
    at = end + 1;
  }
  return std::string();
}

// A /proc/meminfo figure in bytes, or 0.
uint64_t memInfoBytes(const std::string& meminfo, const std::string& key) {
  std::vector<std::string> values = fieldValues(meminfo, key);
  if (values.empty()) return 0;
  return std::strtoull(values.front().c_str(), nullptr, 10) * 1024;  // given in kB
}

std::string dottedIPv4(const sockaddr* address) {
  if (!address || address->sa_family != AF_INET) return std::string();
  char text[INET_ADDRSTRLEN] = {};
  const auto* in = reinterpret_cast<const sockaddr_in*>(address);
  return ::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text) ? text : std::string();
}

// The label of a block device from the /dev/disk/by-label links, or empty.
std::string volumeLabel(const std::string& device) {
  char deviceReal[PATH_MAX];
  if (!::realpath(device.c_str(), deviceReal)) return std::string();
  DIR* labels = ::opendir("/dev/disk/by-label");
  if (!labels) return std::string();
  std::string label;
  while (dirent* entry = ::readdir(labels)) {
    if (entry->d_name[0] == '.') continue;
    std::string link = std::string("/dev/disk/by-label/") + entry->d_name;
    char target[PATH_MAX];
    if (::realpath(link.c_str(), target) && std::strcmp(target, deviceReal) == 0) {
      label = entry->d_name;
      break;
    }
  }
  ::closedir(labels);
  return label;
}

struct LocaleEntry {
  const char* name;  // language_TERRITORY
  uint16_t languageId;
  const char* countryCode;
};

// The locales a player of the game is likely to have, with the Windows language ids and the
// telephone country codes Windows reports for them.
const LocaleEntry kLocales[] = {
    {"zh_CN", 2052, "86"},  {"zh_TW", 1028, "886"}, {"zh_HK", 3076, "852"},
    {"zh_SG", 4100, "65"},  {"en_US", 1033, "1"},   {"en_GB", 2057, "44"},
    {"ja_JP", 1041, "81"},  {"ko_KR", 1042, "82"},  {"de_DE", 1031, "49"},
    {"fr_FR", 1036, "33"},  {"ru_RU", 1049, "7"},   {"C", 1033, "1"},
    {"POSIX", 1033, "1"},
};

const LocaleEntry* userLocale() {
  const char* names[] = {"LC_ALL", "LANG"};
  for (const char* variable : names) {
    const char* value = std::getenv(variable);
    if (!value || !*value) continue;
    std::string locale = value;
    locale = locale.substr(0, locale.find_first_of(".@"));
    for (const LocaleEntry& entry : kLocales)
      if (locale == entry.name) return &entry;
    return nullptr;
  }
  return nullptr;
}

}  // namespace

NativeSystemInfo nativeSystemInfo() {
  NativeSystemInfo info;
  long count = ::sysconf(_SC_NPROCESSORS_ONLN);
  long page = ::sysconf(_SC_PAGESIZE);
  info.processorCount = count > 0 ? static_cast<uint32_t>(count) : 0;
  info.pageSize = page > 0 ? static_cast<uint32_t>(page) : 0;
  return info;
}

std::vector<std::string> processorNames(size_t max) {
  std::vector<std::string> names = fieldValues(readSmallFile("/proc/cpuinfo"), "model name");
  if (names.size() > max) names.resize(max);
  return names;
}

OemInfo oemInfo() {
  OemInfo info;
  info.manufacturer = trimmed(readSmallFile("/sys/class/dmi/id/sys_vendor", 512));
  info.model = trimmed(readSmallFile("/sys/class/dmi/id/product_name", 512));
  return info;
}

MemoryStatus memoryStatus() {
  MemoryStatus status;
  struct sysinfo info {};
  if (::sysinfo(&info) == 0) {
    uint64_t unit = info.mem_unit ? info.mem_unit : 1;
    status.totalPhysical = info.totalram * unit;
    status.availablePhysical = info.freeram * unit;
    // The page file's analogue is the commit room: memory plus swap.
    status.totalPageFile = (info.totalram + info.totalswap) * unit;
    status.availablePageFile = (info.freeram + info.freeswap) * unit;
  }
  std::string meminfo = readSmallFile("/proc/meminfo");
  if (uint64_t available = memInfoBytes(meminfo, "MemAvailable")) {
    status.availablePhysical = available;
  }
  // Virtual: the address space a process may use, less what this one has mapped.
  rlimit limit{};
  uint64_t addressSpace = sizeof(void*) == 8 ? uint64_t{1} << 47 : uint64_t{3} << 30;
  if (::getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
    addressSpace = std::min<uint64_t>(addressSpace, limit.rlim_cur);
  uint64_t mapped = memInfoBytes(readSmallFile("/proc/self/status"), "VmSize");
  status.totalVirtual = addressSpace;
  status.availableVirtual = mapped < addressSpace ? addressSpace - mapped : 0;
  return status;
}

OsVersion osVersion() {
  OsVersion version;
  utsname names{};
  if (::uname(&names) != 0) return version;
  unsigned parts[3] = {0, 0, 0};
  std::sscanf(names.release, "%u.%u.%u", &parts[0], &parts[1], &parts[2]);
  version.majorVersion = parts[0];
  version.minorVersion = parts[1];
  version.buildNumber = parts[2];
  version.csdVersion = names.version;
  return version;
}

uint16_t userDefaultLanguageId() {
  const LocaleEntry* locale = userLocale();
  return locale ? locale->languageId : 0;
}

std::string userDefaultCountryCode() {
  const LocaleEntry* locale = userLocale();
  return locale ? locale->countryCode : std::string();
}

std::vector<DisplayDevice> displayDevices(size_t max) {
  // One device per graphics card of /sys/class/drm ("card0", ...; connectors are
  // "card0-HDMI-A-1" and the like); attached when one of its connectors is connected.
  std::vector<std::string> cards;
  std::vector<std::string> connectors;
  if (DIR* drm = ::opendir("/sys/class/drm")) {
    while (dirent* entry = ::readdir(drm)) {
      std::string name = entry->d_name;
      if (name.compare(0, 4, "card") != 0) continue;
      (name.find('-') == std::string::npos ? cards : connectors).push_back(name);
    }
    ::closedir(drm);
  }
  std::sort(cards.begin(), cards.end());
  std::vector<DisplayDevice> devices;
  for (const std::string& card : cards) {
    if (devices.size() >= max) break;
    const std::string base = "/sys/class/drm/" + card;
    DisplayDevice device;
    device.deviceName = card;
    device.deviceKey = base;
    std::string uevent = readSmallFile(base + "/device/uevent");
    device.deviceString = keyValue(uevent, "DRIVER");
    device.deviceId = keyValue(uevent, "PCI_ID");
    for (const std::string& connector : connectors) {
      if (connector.compare(0, card.size() + 1, card + "-") != 0) continue;
      if (trimmed(readSmallFile("/sys/class/drm/" + connector + "/status")) == "connected")
        device.stateFlags |= 0x1;  // attached to the desktop
    }
    devices.push_back(device);
  }
  return devices;
}

std::vector<DriveInfo> drives(size_t max) {
  // Mounted block devices, the analogue of fixed drives, in mount order; a device mounted
  // twice is shown at its first mount point only.
  std::vector<DriveInfo> list;
  FILE* mounts = std::fopen("/proc/mounts", "rb");
  if (!mounts) return list;
  std::vector<std::string> seenDevices;
  char line[4096];
  while (list.size() < max && std::fgets(line, sizeof line, mounts)) {
    char device[1024], mountPoint[1024], type[256];
    if (std::sscanf(line, "%1023s %1023s %255s", device, mountPoint, type) != 3) continue;
    bool isRoot = std::strcmp(mountPoint, "/") == 0;
    if (std::strncmp(device, "/dev/", 5) != 0 && !isRoot) continue;
    if (std::find(seenDevices.begin(), seenDevices.end(), device) != seenDevices.end()) continue;
    seenDevices.push_back(device);
    DriveInfo drive;
    drive.name = mountPoint;
    drive.fileSystem = type;
    drive.label = volumeLabel(device);
    struct statvfs fs {};
    if (::statvfs(mountPoint, &fs) == 0) {
      drive.fileSystemFlags = static_cast<uint32_t>(fs.f_flag);
      drive.totalBytes = static_cast<uint64_t>(fs.f_blocks) * fs.f_frsize;
      drive.freeBytes = static_cast<uint64_t>(fs.f_bavail) * fs.f_frsize;
    }
    list.push_back(drive);
  }
  std::fclose(mounts);
  return list;
}

std::vector<NetworkAdapter> networkAdapters() {
  std::vector<NetworkAdapter> adapters;
  ifaddrs* all = nullptr;
  if (::getifaddrs(&all) != 0) return adapters;
  std::map<std::string, size_t> byName;
  auto adapterFor = [&](const char* name) -> NetworkAdapter& {
    auto found = byName.find(name);
    if (found != byName.end()) return adapters[found->second];
    byName[name] = adapters.size();
    adapters.push_back(NetworkAdapter{});
    adapters.back().name = name;
    return adapters.back();
  };
  for (ifaddrs* it = all; it; it = it->ifa_next) {
    if (!it->ifa_name || (it->ifa_flags & IFF_LOOPBACK)) continue;
    NetworkAdapter& adapter = adapterFor(it->ifa_name);
    if (!it->ifa_addr) continue;
    if (it->ifa_addr->sa_family == AF_PACKET) {
      const auto* link = reinterpret_cast<const sockaddr_ll*>(it->ifa_addr);
      size_t length = std::min<size_t>(link->sll_halen, sizeof link->sll_addr);
      adapter.address.assign(link->sll_addr, link->sll_addr + length);
    } else if (it->ifa_addr->sa_family == AF_INET && adapter.ipAddress.empty()) {
      adapter.ipAddress = dottedIPv4(it->ifa_addr);
      adapter.ipMask = dottedIPv4(it->ifa_netmask);
    }
  }
  ::freeifaddrs(all);
  return adapters;
}

std::vector<ProcessEntry> processes(size_t max) {
  std::vector<ProcessEntry> list;
  DIR* proc = ::opendir("/proc");
  if (!proc) return list;
  while (dirent* entry = ::readdir(proc)) {
    char* end = nullptr;
    unsigned long pid = std::strtoul(entry->d_name, &end, 10);
    if (pid == 0 || *end != '\0') continue;
    // "pid (comm) state ppid ...": comm may hold spaces and parentheses, so the fields after
    // it are found from the last ')'.
    std::string stat = readSmallFile(std::string("/proc/") + entry->d_name + "/stat", 4096);
    size_t close = stat.rfind(')');
    if (close == std::string::npos) continue;
    ProcessEntry process;
    process.processId = static_cast<uint32_t>(pid);
    std::string comm = readSmallFile(std::string("/proc/") + entry->d_name + "/comm", 256);
    process.exeName = trimmed(comm);
    char state = 0;
    unsigned long parent = 0;
    long threads = 0;
    // Fields after the name: state ppid pgrp session tty tpgid flags minflt cminflt majflt
    // cmajflt utime stime cutime cstime priority nice num_threads.
    if (std::sscanf(stat.c_str() + close + 1,
                    " %c %lu %*d %*d %*d %*d %*u %*u %*u %*u %*u %*u %*u %*d %*d %*d %*d %ld",
                    &state, &parent, &threads) == 3) {
      process.parentProcessId = static_cast<uint32_t>(parent);
      process.threadCount = threads > 0 ? static_cast<uint32_t>(threads) : 0;
    }
    list.push_back(process);
  }
  ::closedir(proc);
  std::sort(list.begin(), list.end(), [](const ProcessEntry& a, const ProcessEntry& b) {
    return a.processId < b.processId;
  });
  if (list.size() > max) list.resize(max);
  return list;
}

std::vector<std::string> visibleWindowTitles(size_t) { return {}; }

std::string commandLine() {
  std::string raw = readSmallFile("/proc/self/cmdline");
  if (!raw.empty() && raw.back() == '\0') raw.pop_back();
  std::replace(raw.begin(), raw.end(), '\0', ' ');
  return raw;
}

}  // namespace platform

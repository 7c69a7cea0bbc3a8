#include "report/system_info.h"

#include <cstdio>
#include <cstring>
#include <sstream>

#include "platform/platform.h"
#include "report/log.h"

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#define KX_HAVE_CPUID 1
#include <cpuid.h>
#include <x86intrin.h>
#endif

namespace {

// The process-wide store.
SystemInfoStore processStore;

// Processor speed: the time-stamp counter against the millisecond clock over three passes of
// at least 200 ms; the fastest pass (fewest seconds per cycle) counts.
constexpr int kSpeedPasses = 3;
constexpr uint32_t kSpeedPassMs = 200;

std::string cpuVendor() {
#ifdef KX_HAVE_CPUID
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (!__get_cpuid(0, &eax, &ebx, &ecx, &edx)) return std::string();
  char vendor[13] = {};
  std::memcpy(vendor, &ebx, 4);
  std::memcpy(vendor + 4, &edx, 4);
  std::memcpy(vendor + 8, &ecx, 4);
  return vendor;
#else
  return std::string();
#endif
}

float measureCpuSpeedMhz() {
#ifdef KX_HAVE_CPUID
  double bestSecondsPerCycle = 1;
  for (int pass = 0; pass < kSpeedPasses; ++pass) {
    uint64_t startCycles = __rdtsc();
    uint32_t startMs = platform::tickMs();
    uint32_t elapsedMs = 0;
    volatile float spin = 1.0f;
    while ((elapsedMs = platform::tickMs() - startMs) < kSpeedPassMs) {
      for (int i = 0; i < 1000; ++i) spin = spin * 1.000001f + 0.5f;
    }
    uint64_t cycles = __rdtsc() - startCycles;
    if (cycles == 0) continue;
    double secondsPerCycle = 1.0 / (static_cast<double>(cycles) * 1000.0 / elapsedMs);
    if (secondsPerCycle < bestSecondsPerCycle) bestSecondsPerCycle = secondsPerCycle;
  }
  return static_cast<float>(0.000001 / bestSecondsPerCycle);
#else
  return 0;
#endif
}

void fetchOnFirstUse() {
  (void)systemComputerName();
  if (!processStore.haveUserName) {
    processStore.userName = platform::userName();
    processStore.haveUserName = true;
  }
  if (!processStore.haveCpuVendor) {
    processStore.cpuVendor = cpuVendor();
    processStore.haveCpuVendor = true;
  }
  if (processStore.cpuSpeedMhz < 1) processStore.cpuSpeedMhz = measureCpuSpeedMhz();
}

std::string hardwareAddress(const std::vector<uint8_t>& bytes) {
  std::string text;
  for (size_t i = 0; i < bytes.size(); ++i) {
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02x", bytes[i]);
    if (i > 0) text += '-';
    text += pair;
  }
  return text;
}

// "preferences.xml:" and at most kMaxPreferencesBytes of the file up to its first zero byte,
// or nothing when the file cannot be opened.
std::string preferencesSection() {
  std::string buffer;
  // Only a regular file: a device or a pipe planted there would never end.
  if (!platform::readRegularFile(preferencesPath(), kMaxPreferencesBytes, &buffer,
                                 platform::PastLimit::Cut))
    return std::string();
  buffer.resize(std::strlen(buffer.c_str()));
  return "preferences.xml:\n" + buffer + "\n";
}

void writeHardware(std::ostream& out, const SystemInfoStore& store) {
  out << "Computer Name: " << store.computerName << "\n";
  out << "CPU: " << store.cpuVendor << "\n";
  out << "\tCPU Speed: " << store.cpuSpeedMhz << "MHz\n";
  for (uint32_t n = 0; n < store.system.processorCount; ++n) {
    // Processors beyond the store's names are listed without one.
    const std::string name = n < store.processorNames.size() ? store.processorNames[n] : "";
    out << "\tProcessor " << (n + 1) << ": " << name << "\n";
  }
  out << "\tPage Size: " << store.system.pageSize << "\n";
  const platform::MemoryStatus& m = store.memory;
  out << "Memory:\n";
  out << "\tPhysical Memory(Free/Total): " << formatByteSize(m.availablePhysical) << " / "
      << formatByteSize(m.totalPhysical) << "\n";
  out << "\tVirtual Memory(Free/Total): " << formatByteSize(m.availableVirtual) << " / "
      << formatByteSize(m.totalVirtual) << "\n";
  out << "\tPagefile(Free/Total): " << formatByteSize(m.availablePageFile) << " / "
      << formatByteSize(m.totalPageFile) << "\n";
}

void writeDevices(std::ostream& out, const SystemInfoStore& store) {
  out << "Display:\n";
  for (size_t n = 0; n < store.displays.size(); ++n) {
    const platform::DisplayDevice& d = store.displays[n];
    out << "\tDevice " << (n + 1) << ": " << d.deviceId << "\n";
    out << "\t\tName: " << d.deviceName << "\n";
    out << "\t\tKey: " << d.deviceKey << "\n";
    out << "\t\tString: " << d.deviceString << "\n";
    out << "\t\tStateFlags: " << d.stateFlags << "\n";
  }
  out << "Disk Drive:\n";
  for (const platform::DriveInfo& d : store.drives) {
    out << "\t" << d.name << "\n";
    out << "\t\tName: " << d.name << "\n";
    out << "\t\tLabel: " << d.label << "\n";
    out << "\t\tFile System: " << d.fileSystem << "\n";
    out << "\t\tFile System Flags: " << d.fileSystemFlags << "\n";
    out << "\t\tTotal Space: " << formatByteSize(d.totalBytes) << "\n";
    out << "\t\tFree Space: " << formatByteSize(d.freeBytes) << "\n";
  }
  out << "Network Adapter:\n";
  // The section always shows one entry, empty when no adapter was found.
  std::vector<platform::NetworkAdapter> adapters = store.adapters;
  if (adapters.empty()) adapters.emplace_back();
  for (const platform::NetworkAdapter& a : adapters) {
    out << "\tName: " << a.name << "\n";
    out << "\t\tDescription: " << a.description << "\n";
    out << "\t\tPhysical Address: " << hardwareAddress(a.address) << "\n";
    out << "\t\tIP Address: " << a.ipAddress << "\n";
    out << "\t\tIP Mask: " << a.ipMask << "\n";
  }
}

void writeSystem(std::ostream& out, const SystemInfoStore& store) {
  const platform::OsVersion& v = store.version;
  out << "OS:\n";
  out << "\tUser Name: " << store.userName << "\n";
  out << "\tLanguage: " << store.language << "\n";
  out << "\tManufacturer: " << store.oem.manufacturer << "\n";
  out << "\tModel: " << store.oem.model << "\n";
  out << "\tVersion: \n";
  out << "\t\tMajorVersion: " << v.majorVersion << "\n";
  out << "\t\tMinorVersion: " << v.minorVersion << "\n";
  out << "\t\tBuildNumber: " << v.buildNumber << "\n";
  out << "\t\tPlatformId: " << v.platformId << "\n";
  out << "\t\tCSDVersion: " << v.csdVersion << "\n";
  out << "\t\tServicePackMajor: " << v.servicePackMajor << "\n";
  out << "\t\tServicePackMinor: " << v.servicePackMinor << "\n";
  out << "\t\tSuiteMask: " << v.suiteMask << "\n";
  out << "\t\tProductType: " << v.productType << "\n";
  out << "Top Level Windows: \n";
  for (const std::string& title : store.windowTitles) out << "\t" << title << "\n";
  out << "Processes: \n";
  for (const platform::ProcessEntry& p : store.processes) {
    out << "\t[" << p.processId << "]" << p.exeName << "\n";
    out << "\t\tParent Process: " << p.parentProcessId << "\n";
    out << "\t\tNumber of Threads: " << p.threadCount << "\n";
  }
}

}  // namespace

void gatherSystemInfo() {
  processStore.system = platform::nativeSystemInfo();
  processStore.processorNames = platform::processorNames(kMaxProcessorNames);
  processStore.oem = platform::oemInfo();
  processStore.memory = platform::memoryStatus();
  processStore.version = platform::osVersion();
  processStore.language =
      languageText(platform::userDefaultLanguageId(), platform::userDefaultCountryCode());
  processStore.displays = platform::displayDevices(kMaxDisplayDevices);
  processStore.adapters = platform::networkAdapters();
  processStore.drives = platform::drives(kMaxDrives);
  processStore.processes = platform::processes(kMaxProcesses);
  processStore.windowTitles = platform::visibleWindowTitles(kMaxWindowTitles);
  processStore.gathered = true;
}

void releaseSystemInfo() { processStore = SystemInfoStore{}; }

const SystemInfoStore& systemInfoStore() { return processStore; }

std::string systemComputerName() {
  if (!processStore.haveComputerName) {
    processStore.computerName = platform::computerName();
    processStore.haveComputerName = true;
  }
  return processStore.computerName;
}

std::string getSystemInfo() {
  if (!processStore.gathered) gatherSystemInfo();
  fetchOnFirstUse();
  return formatSystemInfoReport(processStore) + preferencesSection();
}

std::string formatSystemInfoReport(const SystemInfoStore& info) {
  std::ostringstream out;
  writeHardware(out, info);
  writeDevices(out, info);
  writeSystem(out, info);
  return out.str();
}

bool wantsSystemInfoOnly(const std::string& commandLine) {
  return commandLine.find("-sysinfo") != std::string::npos;
}

std::string systemInfoReportPath() { return platform::tempFolder() + "mox_sysinfo.txt"; }

bool writeSystemInfoReport() {
  std::string report = getSystemInfo();
  platform::OpenedFile opened = platform::openFile(systemInfoReportPath(), "wb");
  if (!opened) return false;
  FILE* file = opened.value().release();
  bool written = report.empty() || std::fwrite(report.data(), report.size(), 1, file) == 1;
  return std::fclose(file) == 0 && written;
}

std::string formatByteSize(uint64_t bytes) {
  static const char* const kUnits[] = {"Byte", "KB", "MB", "GB", "TB"};
  double value = static_cast<double>(bytes);
  size_t unit = 0;
  while (value >= 1024 && unit + 1 < sizeof kUnits / sizeof kUnits[0]) {
    value /= 1024;
    ++unit;
  }
  std::ostringstream out;
  out << value << " " << kUnits[unit];
  return out.str();
}

std::string languageName(uint16_t languageId) {
  switch (languageId) {
    case 1028:
      return "Chinese (Taiwan)";
    case 1033:
      return "English (United States)";
    case 1041:
      return "Japanese";
    case 2052:
    case 3076:
      return "Chinese (PRC)";
    case 4100:
      return "Chinese (Singapore)";
    default: {
      char text[8];
      std::snprintf(text, sizeof text, "0x%04x", static_cast<unsigned>(languageId));
      return text;
    }
  }
}

std::string languageText(uint16_t languageId, const std::string& countryCode) {
  return languageName(languageId) + "(" + countryCode + ")";
}

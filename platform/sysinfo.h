// Probes of the machine for the system-information report, and the process's command line.
// Each probe returns plain data in the shape the Windows calls fill (GetNativeSystemInfo,
// GlobalMemoryStatusEx, GetVersionExA, EnumDisplayDevicesA, GetVolumeInformationA with
// GetDiskFreeSpaceExA, GetAdaptersInfo, Toolhelp snapshots, EnumWindows); the POSIX side fills
// the same fields from its analogues. No probe reports an error: one that finds nothing
// returns empty texts, zeros or an empty list. sysinfo_win32.cpp and sysinfo_posix.cpp define
// them; the build compiles one.
//
// Texts are byte strings in the process's ANSI code page (GBK).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// GetNativeSystemInfo: dwNumberOfProcessors, dwPageSize.
struct NativeSystemInfo {
  uint32_t processorCount = 0;
  uint32_t pageSize = 0;
};
[[nodiscard]] NativeSystemInfo nativeSystemInfo();

// The names of processors 0, 1, ... as the system describes them (Windows: registry value
// "ProcessorNameString" under HARDWARE\DESCRIPTION\System\CentralProcessor\<n>, stopping at the
// first missing key; POSIX: the "model name" lines of /proc/cpuinfo). At most `max` entries.
[[nodiscard]] std::vector<std::string> processorNames(size_t max);

// The machine's maker and model (Windows: "Manufacturer" and "Model" of section "General" in
// <system folder>\oeminfo.ini; POSIX: /sys/class/dmi/id/sys_vendor and product_name).
struct OemInfo {
  std::string manufacturer;
  std::string model;
};
[[nodiscard]] OemInfo oemInfo();

// GlobalMemoryStatusEx: ullTotalPhys, ullAvailPhys, ullTotalPageFile, ullAvailPageFile,
// ullTotalVirtual, ullAvailVirtual, in bytes.
struct MemoryStatus {
  uint64_t totalPhysical = 0;
  uint64_t availablePhysical = 0;
  uint64_t totalPageFile = 0;
  uint64_t availablePageFile = 0;
  uint64_t totalVirtual = 0;
  uint64_t availableVirtual = 0;
};
[[nodiscard]] MemoryStatus memoryStatus();

// GetVersionExA with OSVERSIONINFOEXA.
struct OsVersion {
  uint32_t majorVersion = 0;
  uint32_t minorVersion = 0;
  uint32_t buildNumber = 0;
  uint32_t platformId = 0;
  std::string csdVersion;  // service-pack text (POSIX: the kernel's version text)
  uint32_t servicePackMajor = 0;
  uint32_t servicePackMinor = 0;
  uint32_t suiteMask = 0;
  uint32_t productType = 0;
};
[[nodiscard]] OsVersion osVersion();

// GetUserDefaultLangID (POSIX: the id of the locale in LC_ALL, else LANG; 0 when unknown).
[[nodiscard]] uint16_t userDefaultLanguageId();
// GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_IDEFAULTCOUNTRY): the country's international
// telephone code as text, for example "86"; empty when unknown.
[[nodiscard]] std::string userDefaultCountryCode();

// EnumDisplayDevicesA(NULL, n, ...) for n = 0, 1, ... until it fails, at most `max` entries.
struct DisplayDevice {
  std::string deviceName;    // DeviceName
  std::string deviceString;  // DeviceString, the description
  std::string deviceId;      // DeviceID
  std::string deviceKey;     // DeviceKey, the registry key
  uint32_t stateFlags = 0;   // StateFlags
};
[[nodiscard]] std::vector<DisplayDevice> displayDevices(size_t max);

// One present drive (Windows: one set bit of GetLogicalDrives, in letter order; POSIX: one
// mounted block device). Sizes are filled only for fixed drives (GetDriveTypeA == 3), else 0.
struct DriveInfo {
  std::string name;        // "C:" (POSIX: the mount point)
  std::string label;       // volume label
  std::string fileSystem;  // file-system name
  uint32_t fileSystemFlags = 0;
  uint64_t totalBytes = 0;
  uint64_t freeBytes = 0;  // free to the caller
};
[[nodiscard]] std::vector<DriveInfo> drives(size_t max);

// GetAdaptersInfo, in list order.
struct NetworkAdapter {
  std::string name;
  std::string description;
  std::vector<uint8_t> address;  // hardware address bytes (AddressLength of them)
  std::string ipAddress;         // first IP address, dotted text
  std::string ipMask;            // its mask, dotted text
};
[[nodiscard]] std::vector<NetworkAdapter> networkAdapters();

// Toolhelp process snapshot, at most `max` entries.
struct ProcessEntry {
  uint32_t processId = 0;
  uint32_t parentProcessId = 0;
  uint32_t threadCount = 0;
  std::string exeName;  // szExeFile (POSIX: /proc/<pid>/comm)
};
[[nodiscard]] std::vector<ProcessEntry> processes(size_t max);

// Titles of the visible top-level windows (EnumWindows, IsWindowVisible, GetWindowTextA with
// up to 511 characters), at most `max`. POSIX has no such windows: always empty.
[[nodiscard]] std::vector<std::string> visibleWindowTitles(size_t max);

// The whole command line as one text (Windows: GetCommandLineA; POSIX: /proc/self/cmdline,
// the arguments joined by single spaces).
[[nodiscard]] std::string commandLine();

}  // namespace platform

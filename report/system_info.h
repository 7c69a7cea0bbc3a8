// The system-information store and the plain-text report built from it: hardware, memory,
// displays, drives, network adapters, operating system, windows, processes and the player's
// preferences file. The report is appended to the run log before an upload, or written alone
// to the temporary folder's "mox_sysinfo.txt" under "-sysinfo".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/sysinfo.h"

// The store's capacities; what a probe finds beyond them is not kept.
inline constexpr size_t kMaxProcessorNames = 17;
inline constexpr size_t kMaxDisplayDevices = 10;
inline constexpr size_t kMaxDrives = 32;
inline constexpr size_t kMaxWindowTitles = 256;
inline constexpr size_t kMaxProcesses = 512;
// Only this much of the preferences file goes into the report.
inline constexpr size_t kMaxPreferencesBytes = 16384;

// Process-wide; filled once by gatherSystemInfo. The on-first-use values (computer name, user
// name, processor vendor, processor speed) are fetched by the report and kept here too.
struct SystemInfoStore {
  bool gathered = false;
  platform::NativeSystemInfo system;
  std::vector<std::string> processorNames;
  platform::OemInfo oem;
  platform::MemoryStatus memory;
  platform::OsVersion version;
  std::string language;
  std::vector<platform::DisplayDevice> displays;
  std::vector<platform::NetworkAdapter> adapters;
  std::vector<platform::DriveInfo> drives;
  std::vector<platform::ProcessEntry> processes;
  std::vector<std::string> windowTitles;

  bool haveComputerName = false;
  std::string computerName;
  bool haveUserName = false;
  std::string userName;
  bool haveCpuVendor = false;
  std::string cpuVendor;
  float cpuSpeedMhz = 0;  // measured while below 1
};

// Fills the store: processor count and page size, processor names, maker and model, memory,
// version, language, displays, network adapters, drives, processes, window titles.
void gatherSystemInfo();
// Empties the store (the Updater's destruction).
void releaseSystemInfo();
// The store, for reading.
[[nodiscard]] const SystemInfoStore& systemInfoStore();

// The computer's name, fetched once per process and kept in the store.
[[nodiscard]] std::string systemComputerName();

// The report text built from the store (gathered first if it was not), every line ending in
// LF. The preferences file is read now.
[[nodiscard]] std::string getSystemInfo();

// The report's sections from Computer Name to Processes for `info`, as they stand.
[[nodiscard]] std::string formatSystemInfoReport(const SystemInfoStore& info);

// True when "-sysinfo" occurs anywhere in `commandLine`, even inside another word.
[[nodiscard]] bool wantsSystemInfoOnly(const std::string& commandLine);
// The "-sysinfo" file: the temporary folder + "mox_sysinfo.txt".
[[nodiscard]] std::string systemInfoReportPath();
// Writes the report to systemInfoReportPath(), replacing an older file. False when the file
// cannot be created (nothing is written then).
bool writeSystemInfoReport();

// A byte count in the largest unit that keeps it below 1024 (up to TB), default stream
// formatting: 1536 -> "1.5 KB", 1000 -> "1000 Byte", 8589934592 -> "8 GB".
[[nodiscard]] std::string formatByteSize(uint64_t bytes);
// The name of a Windows language id, or the id as "0x%04x" when it is not one of the six
// listed: 2052 and 3076 -> "Chinese (PRC)", 1031 -> "0x0407".
[[nodiscard]] std::string languageName(uint16_t languageId);
// languageName followed by "(" + country code + ")".
[[nodiscard]] std::string languageText(uint16_t languageId, const std::string& countryCode);

// Win32 probes of the machine for the system-information report.
#include "platform/sysinfo.h"

#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstring>

namespace platform {
namespace {

// The adapter list buffer the report starts with (16 adapters); a longer list gets the size
// the system asks for.
constexpr ULONG kAdapterBufferBytes = 10368;

// A text field of a fixed-size Windows structure, never read past its end.
template <size_t N>
std::string field(const char (&text)[N]) {
  return std::string(text, strnlen(text, N));
}

std::string systemFolder() {
  char buffer[MAX_PATH + 1] = {};
  if (!::SHGetSpecialFolderPathA(nullptr, buffer, CSIDL_SYSTEM, FALSE)) return std::string();
  return buffer;
}

}  // namespace

NativeSystemInfo nativeSystemInfo() {
  SYSTEM_INFO info{};
  ::GetNativeSystemInfo(&info);
  return NativeSystemInfo{info.dwNumberOfProcessors, info.dwPageSize};
}

std::vector<std::string> processorNames(size_t max) {
  std::vector<std::string> names;
  for (size_t n = 0; n < max; ++n) {
    char keyName[96];
    std::snprintf(keyName, sizeof keyName, "HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\%u",
                  static_cast<unsigned>(n));
    HKEY key = nullptr;
    if (::RegOpenKeyA(HKEY_LOCAL_MACHINE, keyName, &key) != ERROR_SUCCESS) break;
    char value[512] = {};
    DWORD size = sizeof value - 1;
    DWORD type = 0;
    LONG result = ::RegQueryValueExA(key, "ProcessorNameString", nullptr, &type,
                                     reinterpret_cast<BYTE*>(value), &size);
    ::RegCloseKey(key);
    names.push_back(result == ERROR_SUCCESS ? std::string(value, strnlen(value, size))
                                            : std::string());
  }
  return names;
}

OemInfo oemInfo() {
  OemInfo info;
  const std::string folder = systemFolder();
  if (folder.empty()) return info;
  const std::string ini = folder + "\\oeminfo.ini";
  char buffer[512] = {};
  ::GetPrivateProfileStringA("General", "Manufacturer", "", buffer, sizeof buffer, ini.c_str());
  info.manufacturer = buffer;
  std::memset(buffer, 0, sizeof buffer);
  ::GetPrivateProfileStringA("General", "Model", "", buffer, sizeof buffer, ini.c_str());
  info.model = buffer;
  return info;
}

MemoryStatus memoryStatus() {
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof status;
  MemoryStatus out;
  if (!::GlobalMemoryStatusEx(&status)) return out;
  out.totalPhysical = status.ullTotalPhys;
  out.availablePhysical = status.ullAvailPhys;
  out.totalPageFile = status.ullTotalPageFile;
  out.availablePageFile = status.ullAvailPageFile;
  out.totalVirtual = status.ullTotalVirtual;
  out.availableVirtual = status.ullAvailVirtual;
  return out;
}

OsVersion osVersion() {
  OSVERSIONINFOEXA info{};
  info.dwOSVersionInfoSize = sizeof info;
  OsVersion out;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (!::GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&info))) return out;
#pragma GCC diagnostic pop
  out.majorVersion = info.dwMajorVersion;
  out.minorVersion = info.dwMinorVersion;
  out.buildNumber = info.dwBuildNumber;
  out.platformId = info.dwPlatformId;
  out.csdVersion = field(info.szCSDVersion);
  out.servicePackMajor = info.wServicePackMajor;
  out.servicePackMinor = info.wServicePackMinor;
  out.suiteMask = info.wSuiteMask;
  out.productType = info.wProductType;
  return out;
}

uint16_t userDefaultLanguageId() { return ::GetUserDefaultLangID(); }

std::string userDefaultCountryCode() {
  char buffer[16] = {};
  int n = ::GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_IDEFAULTCOUNTRY, buffer, sizeof buffer);
  return n > 0 ? std::string(buffer) : std::string();
}

std::vector<DisplayDevice> displayDevices(size_t max) {
  std::vector<DisplayDevice> devices;
  for (DWORD n = 0; devices.size() < max; ++n) {
    DISPLAY_DEVICEA device{};
    device.cb = sizeof device;
    if (!::EnumDisplayDevicesA(nullptr, n, &device, 0)) break;
    DisplayDevice out;
    out.deviceName = field(device.DeviceName);
    out.deviceString = field(device.DeviceString);
    out.deviceId = field(device.DeviceID);
    out.deviceKey = field(device.DeviceKey);
    out.stateFlags = device.StateFlags;
    devices.push_back(std::move(out));
  }
  return devices;
}

std::vector<DriveInfo> drives(size_t max) {
  std::vector<DriveInfo> out;
  const DWORD mask = ::GetLogicalDrives();
  for (int n = 0; n < 32 && out.size() < max; ++n) {
    if (!(mask & (1u << n))) continue;
    DriveInfo drive;
    drive.name = std::string(1, static_cast<char>('A' + n)) + ":";
    const std::string root = drive.name + "\\";
    char label[256] = {};
    char fileSystem[256] = {};
    DWORD flags = 0;
    // Without this a drive with no medium would ask the user to insert one.
    UINT oldMode = ::SetErrorMode(SEM_FAILCRITICALERRORS);
    if (::GetVolumeInformationA(root.c_str(), label, sizeof label, nullptr, nullptr, &flags,
                                fileSystem, sizeof fileSystem)) {
      drive.label = field(label);
      drive.fileSystem = field(fileSystem);
      drive.fileSystemFlags = flags;
    }
    if (::GetDriveTypeA(root.c_str()) == DRIVE_FIXED) {
      ULARGE_INTEGER freeToCaller{}, total{}, totalFree{};
      if (::GetDiskFreeSpaceExA(root.c_str(), &freeToCaller, &total, &totalFree)) {
        drive.totalBytes = total.QuadPart;
        drive.freeBytes = freeToCaller.QuadPart;
      }
    }
    ::SetErrorMode(oldMode);
    out.push_back(std::move(drive));
  }
  return out;
}

std::vector<NetworkAdapter> networkAdapters() {
  std::vector<NetworkAdapter> out;
  std::vector<unsigned char> buffer(kAdapterBufferBytes);
  ULONG size = kAdapterBufferBytes;
  DWORD result = ::GetAdaptersInfo(reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data()), &size);
  // A machine with many adapters (VPNs, virtual machines) would otherwise report none.
  if (result == ERROR_BUFFER_OVERFLOW && size > buffer.size()) {
    buffer.resize(size);
    result = ::GetAdaptersInfo(reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data()), &size);
  }
  if (result != ERROR_SUCCESS) return out;
  auto* first = reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data());
  for (const IP_ADAPTER_INFO* a = first; a; a = a->Next) {
    NetworkAdapter adapter;
    adapter.name = field(a->AdapterName);
    adapter.description = field(a->Description);
    const size_t length = a->AddressLength < sizeof a->Address ? a->AddressLength
                                                               : sizeof a->Address;
    adapter.address.assign(a->Address, a->Address + length);
    adapter.ipAddress = field(a->IpAddressList.IpAddress.String);
    adapter.ipMask = field(a->IpAddressList.IpMask.String);
    out.push_back(std::move(adapter));
  }
  return out;
}

std::vector<ProcessEntry> processes(size_t max) {
  std::vector<ProcessEntry> out;
  if (max == 0) return out;
  HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return out;
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = ::Process32First(snapshot, &entry); more && out.size() < max;
       more = ::Process32Next(snapshot, &entry)) {
    out.push_back(ProcessEntry{entry.th32ProcessID, entry.th32ParentProcessID, entry.cntThreads,
                               field(entry.szExeFile)});
  }
  ::CloseHandle(snapshot);
  return out;
}

namespace {

struct WindowWalk {
  std::vector<std::string>* titles;
  size_t max;
};

BOOL CALLBACK collectTitle(HWND hwnd, LPARAM param) {
  auto* walk = reinterpret_cast<WindowWalk*>(param);
  if (walk->titles->size() >= walk->max) return FALSE;
  if (!::IsWindowVisible(hwnd)) return TRUE;
  char title[512] = {};
  int n = ::GetWindowTextA(hwnd, title, sizeof title);
  walk->titles->push_back(std::string(title, n > 0 ? static_cast<size_t>(n) : 0));
  return TRUE;
}

}  // namespace

std::vector<std::string> visibleWindowTitles(size_t max) {
  std::vector<std::string> titles;
  WindowWalk walk{&titles, max};
  if (max > 0) ::EnumWindows(collectTitle, reinterpret_cast<LPARAM>(&walk));
  return titles;
}

std::string commandLine() {
  const char* line = ::GetCommandLineA();
  return line ? line : std::string();
}

}  // namespace platform

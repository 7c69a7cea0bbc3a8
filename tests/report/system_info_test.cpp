#include "report/system_info.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <unistd.h>
#endif

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/report/preferences_file.h"
#include "tests/support/test_support.h"

namespace {

using testing_support::readFile;

TEST(SystemInfo, SizesInTheLargestUnitBelow1024) {
  struct Case {
    uint64_t bytes;
    const char* expected;
  } cases[] = {
      {0, "0 Byte"},
      {1000, "1000 Byte"},
      {1023, "1023 Byte"},
      {1024, "1 KB"},
      {1536, "1.5 KB"},
      {8589934592ull, "8 GB"},
      {107374182400ull, "100 GB"},
      {1234567890ull, "1.14978 GB"},  // six significant digits
      {uint64_t{1} << 40, "1 TB"},
      {uint64_t{5000} << 40, "5000 TB"},  // no unit beyond TB
  };
  for (const Case& c : cases) EXPECT_EQ(formatByteSize(c.bytes), c.expected) << c.bytes;
}

TEST(SystemInfo, LanguageNames) {
  struct Case {
    uint16_t id;
    const char* expected;
  } cases[] = {
      {1028, "Chinese (Taiwan)"},  {1033, "English (United States)"},
      {1041, "Japanese"},          {2052, "Chinese (PRC)"},
      {3076, "Chinese (PRC)"},     {4100, "Chinese (Singapore)"},
      {1031, "0x0407"},            {0, "0x0000"},
  };
  for (const Case& c : cases) EXPECT_EQ(languageName(c.id), c.expected) << c.id;
  EXPECT_EQ(languageText(2052, "86"), "Chinese (PRC)(86)");
  EXPECT_EQ(languageText(1031, "49"), "0x0407(49)");
}

TEST(SystemInfo, SysinfoSwitchIsFoundAnywhere) {
  EXPECT_TRUE(wantsSystemInfoOnly("2.650-2.651Pack.exe -sysinfo"));
  EXPECT_TRUE(wantsSystemInfoOnly("pack AutoRun x-sysinfoy"));
  EXPECT_FALSE(wantsSystemInfoOnly("pack AutoRun -SYSINFO"));
  EXPECT_FALSE(wantsSystemInfoOnly("pack -sysinf"));
}

TEST(SystemInfo, ReportLayoutLineByLine) {
  SystemInfoStore info;
  info.computerName = "PC-01";
  info.cpuVendor = "GenuineIntel";
  info.cpuSpeedMhz = 2994.5f;
  info.system.processorCount = 3;  // more processors than names: the third has none
  info.system.pageSize = 4096;
  info.processorNames = {"Core i5", "Core i5"};
  info.memory = {8589934592ull, 1536, 1000, 0, uint64_t{2} << 30, 1048576};
  info.displays = {{"\\\\.\\DISPLAY1", "GeForce", "PCI\\VEN_10DE", "\\Registry\\X", 5}};
  info.drives = {{"C:", "System", "NTFS", 65791, 107374182400ull, 2048},
                 {"D:", "", "", 0, 0, 0}};
  info.version = {6, 1, 7601, 2, "Service Pack 1", 1, 0, 256, 1};
  info.language = "Chinese (PRC)(86)";
  info.userName = "player";
  info.oem = {"Maker", "Model X"};
  info.windowTitles = {"MOXStartup"};
  info.processes = {{0, 0, 1, "[System Process]"}, {4, 0, 96, "System"}};

  const std::string expected =
      "Computer Name: PC-01\n"
      "CPU: GenuineIntel\n"
      "\tCPU Speed: 2994.5MHz\n"
      "\tProcessor 1: Core i5\n"
      "\tProcessor 2: Core i5\n"
      "\tProcessor 3: \n"
      "\tPage Size: 4096\n"
      "Memory:\n"
      "\tPhysical Memory(Free/Total): 1.5 KB / 8 GB\n"
      "\tVirtual Memory(Free/Total): 1 MB / 2 GB\n"
      "\tPagefile(Free/Total): 0 Byte / 1000 Byte\n"
      "Display:\n"
      "\tDevice 1: PCI\\VEN_10DE\n"
      "\t\tName: \\\\.\\DISPLAY1\n"
      "\t\tKey: \\Registry\\X\n"
      "\t\tString: GeForce\n"
      "\t\tStateFlags: 5\n"
      "Disk Drive:\n"
      "\tC:\n"
      "\t\tName: C:\n"
      "\t\tLabel: System\n"
      "\t\tFile System: NTFS\n"
      "\t\tFile System Flags: 65791\n"
      "\t\tTotal Space: 100 GB\n"
      "\t\tFree Space: 2 KB\n"
      "\tD:\n"
      "\t\tName: D:\n"
      "\t\tLabel: \n"
      "\t\tFile System: \n"
      "\t\tFile System Flags: 0\n"
      "\t\tTotal Space: 0 Byte\n"
      "\t\tFree Space: 0 Byte\n"
      "Network Adapter:\n"  // none found: one empty entry
      "\tName: \n"
      "\t\tDescription: \n"
      "\t\tPhysical Address: \n"
      "\t\tIP Address: \n"
      "\t\tIP Mask: \n"
      "OS:\n"
      "\tUser Name: player\n"
      "\tLanguage: Chinese (PRC)(86)\n"
      "\tManufacturer: Maker\n"
      "\tModel: Model X\n"
      "\tVersion: \n"
      "\t\tMajorVersion: 6\n"
      "\t\tMinorVersion: 1\n"
      "\t\tBuildNumber: 7601\n"
      "\t\tPlatformId: 2\n"
      "\t\tCSDVersion: Service Pack 1\n"
      "\t\tServicePackMajor: 1\n"
      "\t\tServicePackMinor: 0\n"
      "\t\tSuiteMask: 256\n"
      "\t\tProductType: 1\n"
      "Top Level Windows: \n"
      "\tMOXStartup\n"
      "Processes: \n"
      "\t[0][System Process]\n"
      "\t\tParent Process: 0\n"
      "\t\tNumber of Threads: 1\n"
      "\t[4]System\n"
      "\t\tParent Process: 0\n"
      "\t\tNumber of Threads: 96\n";
  EXPECT_EQ(formatSystemInfoReport(info), expected);

  info.adapters = {{"eth0", "Realtek", {0x00, 0x1a, 0x2b, 0xfc, 0x0d, 0xe0}, "10.0.0.7",
                    "255.255.255.0"}};
  EXPECT_NE(formatSystemInfoReport(info).find("Network Adapter:\n"
                                              "\tName: eth0\n"
                                              "\t\tDescription: Realtek\n"
                                              "\t\tPhysical Address: 00-1a-2b-fc-0d-e0\n"
                                              "\t\tIP Address: 10.0.0.7\n"
                                              "\t\tIP Mask: 255.255.255.0\n"
                                              "OS:\n"),
            std::string::npos);
}

// Reports built on this machine, with the per-user folder pointed into a scratch folder.
class MachineReport : public ::testing::Test {
 protected:
  void TearDown() override { releaseSystemInfo(); }
  testing_support::ScopedPreferencesFile preferences_;
};

TEST_F(MachineReport, HasEverySectionInOrderAndEndsAfterTheLastProcess) {
  const std::string report = getSystemInfo();
  const char* headings[] = {
      "Computer Name: ", "\nCPU: ", "\n\tCPU Speed: ", "\n\tPage Size: ", "\nMemory:\n",
      "\n\tPhysical Memory(Free/Total): ", "\n\tVirtual Memory(Free/Total): ",
      "\n\tPagefile(Free/Total): ", "\nDisplay:\n", "\nDisk Drive:\n", "\nNetwork Adapter:\n",
      "\nOS:\n", "\n\tUser Name: ", "\n\tLanguage: ", "\n\tManufacturer: ", "\n\tModel: ",
      "\n\tVersion: \n", "\n\t\tMajorVersion: ", "\n\t\tProductType: ",
      "\nTop Level Windows: \n", "\nProcesses: \n"};
  size_t at = 0;
  for (const char* heading : headings) {
    size_t found = report.find(heading, at);
    ASSERT_NE(found, std::string::npos) << "missing or out of order: " << heading;
    at = found + 1;
  }
  EXPECT_EQ(report.rfind("Computer Name: ", 0), 0u);

  // One processor line per processor, numbered from 1.
  const long processors = static_cast<long>(std::thread::hardware_concurrency());
  for (long n = 1; n <= processors; ++n)
    EXPECT_NE(report.find("\n\tProcessor " + std::to_string(n) + ": "), std::string::npos);
  EXPECT_EQ(report.find("\n\tProcessor " + std::to_string(processors + 1) + ": "),
            std::string::npos);

  // This test program is among the processes, and the report ends with the last one.
#ifndef _WIN32
  EXPECT_NE(report.find("\n\t[" + std::to_string(::getpid()) + "]report_tests\n\t\tParent "),
            std::string::npos);
#endif
  size_t last = report.rfind("\n\t\tNumber of Threads: ");
  ASSERT_NE(last, std::string::npos);
  EXPECT_EQ(report.find('\n', last + 1), report.size() - 1);
  EXPECT_EQ(report.find("preferences.xml:"), std::string::npos);
}

TEST_F(MachineReport, EndsWithThePreferencesFileWhenThereIsOne) {
  preferences_.write("<root>\r\n<accountName>p1</accountName>\r\n</root>");
  std::string report = getSystemInfo();
  const std::string tail =
      "\npreferences.xml:\n<root>\r\n<accountName>p1</accountName>\r\n</root>\n";
  ASSERT_GE(report.size(), tail.size());
  EXPECT_EQ(report.substr(report.size() - tail.size()), tail);
}

TEST_F(MachineReport, ShowsOnlyTheFirst16KiBOfPreferencesAndStopsAtAZeroByte) {
  std::string big(20000, 'x');
  for (size_t i = 0; i < big.size(); i += 100) big[i] = '\n';
  preferences_.write(big);
  std::string report = getSystemInfo();
  std::string tail = "preferences.xml:\n" + big.substr(0, kMaxPreferencesBytes) + "\n";
  EXPECT_EQ(report.substr(report.size() - tail.size()), tail);

  preferences_.write(std::string("before\0after", 12));
  report = getSystemInfo();
  tail = "preferences.xml:\nbefore\n";
  EXPECT_EQ(report.substr(report.size() - tail.size()), tail);
}

}  // namespace

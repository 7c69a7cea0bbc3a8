// Run step 7: the payload is written out as temporary archives in the installation folder and
// the check table as bin/MD5.txt, which is then read back as the run's table text.
#include <algorithm>
#include <cstdio>
#include <string>

#include "app/payload.h"
#include "app/preflight.h"
#include "app/stage_helpers.h"
#include "app/stages.h"
#include "integrity/game_packs.h"
#include "platform/replacement_file.h"

namespace {

constexpr size_t kEmptyArchiveBytes = 22;
// The res patch can be large; it is written in blocks with a progress line each.
constexpr size_t kResBlockBytes = 31457280;

struct ExtractRow {
  int id;
  const char* fileName;
  const char* progressFormat;  // console text after the file
  int packIndex;               // patchPresent flag set by the file, -1 for none
  const char* launcherText;    // nullptr for none
};

constexpr ExtractRow packRow(GamePackIndex pack, const char* progressFormat,
                             const char* launcherText) {
  return {kGamePacks[pack].payloadId, kGamePacks[pack].patchName, progressFormat, pack,
          launcherText};
}

constexpr ExtractRow kRows[] = {
    packRow(kQdresPack, "->准备更新...10%%\r", "1.0"),
    packRow(kGameResPack, "->准备更新...15%%\r", "1.0"),
    packRow(kKxresPack, "->准备更新...20%%\r", "1.0"),
    packRow(kResPack, "->准备更新...30%%\r", "T9.0"),
    packRow(kVemoPack, "->准备更新...40%%\r", "1.0"),
    packRow(kCNPack, "->准备更新...50%%\r", "1.0"),
    {kPayloadBin, "binTemp.kx", "->准备更新...60%%\r", -1, nullptr},
    {kPayloadCache, "cacheTemp.kx", "->准备更新...70%%\r", -1, nullptr},
};

bool writeAll(FILE* file, const char* bytes, size_t size) {
  return size == 0 || std::fwrite(bytes, size, 1, file) == 1;
}

// Writes the res payload in whole blocks, one progress line per block, then the rest.
bool writeInBlocks(FILE* file, const Payload& payload, Launcher& launcher) {
  const size_t blocks = payload.size / kResBlockBytes;
  bool written = true;
  for (size_t k = 1; k <= blocks; ++k) {
    written = writeAll(file, payload.bytes.data() + (k - 1) * kResBlockBytes, kResBlockBytes) &&
              written;
    launcher.progress("0.1");
    // The res row's share of the bar runs from 20% to 29%: a patch of ten blocks or more
    // shows 29% until it is written, never 210%.
    printTitled("->准备更新...2%d%%\r", static_cast<int>(std::min<size_t>(k, 9)));
  }
  const size_t rest = payload.size - blocks * kResBlockBytes;
  return writeAll(file, payload.bytes.data() + blocks * kResBlockBytes, rest) && written;
}

// Writes the whole payload to a new file; false when the file cannot be created or does not
// take every byte (a full disk), which the caller reports like a folder it cannot write. The
// part written is removed: it is of no use, and it holds space the player has to free.
bool writePayloadFile(const std::string& path, const Payload& payload, bool inBlocks,
                      Launcher& launcher) {
  FILE* file = platform::createFileExclusive(path);
  if (!file) return false;
  bool written = inBlocks ? writeInBlocks(file, payload, launcher)
                          : writeAll(file, payload.bytes.data(), payload.size);
  if (std::fclose(file) != 0) written = false;
  if (!written) platform::deleteFile(path);
  return written;
}

[[nodiscard]] bool writeArchiveRow(RunContext& ctx, const ExtractRow& row) {
  Payload payload = loadPayload(row.id);
  const std::string path = joinPath(ctx.installDir, row.fileName);
  platform::setFileAttributesNormal(path);
  if (!writePayloadFile(path, payload, row.packIndex == kResPack, ctx.launcher)) {
    logRun(ctx, std::string(packTitle) + "->" + row.fileName + " can not write in!");
    showMessage("您在" + ctx.installDir + "没有写权限，程序无法运行!", "您没有写权限");
    return false;
  }
  printTitled(row.progressFormat);
  if (row.packIndex >= 0) ctx.patchPresent[row.packIndex] = payload.size != kEmptyArchiveBytes;
  if (row.launcherText) ctx.launcher.progress("%s", row.launcherText);
  return true;
}

[[nodiscard]] bool writeCheckTable(RunContext& ctx) {
  Payload payload = loadPayload(kPayloadCheckTable);
  const std::string path = joinPath(ctx.binDir, "MD5.txt");
  platform::setFileAttributesNormal(path);
  if (payload.size == 0) {
    platform::deleteFile(path);
    return true;
  }
  FILE* file = platform::openFile(path, "wb+");
  if (!file) {
    logRun(ctx, std::string(packTitle) + "->can not open file: " + path);
    const std::string caption = std::string(packTitle) + "->无法打开文件:" + path;
    showMessage(caption + ", 请检查文件夹或写权限是否正确!", caption);
    return false;
  }
  logRun(ctx, std::string(packTitle) + "->MD5 file for new version: " + path);
  const bool written = writeAll(file, payload.bytes.data(), payload.size);
  if (std::fclose(file) != 0 || !written) {
    // A partial table would make every pack look damaged; say so instead.
    logRun(ctx, std::string(packTitle) + "->can not write file: " + path);
    const std::string caption = std::string(packTitle) + "->无法打开文件:" + path;
    showMessage(caption + ", 请检查文件夹或写权限是否正确!", caption);
    return false;
  }
  return true;
}

}  // namespace

std::string readWholeFile(const std::string& path) {
  FILE* file = openFileChecked(path, "rb");
  if (!file) return std::string();
  std::string bytes;
  char buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, n);
  std::fclose(file);
  return bytes.substr(0, bytes.find('\0'));
}

bool extractPayload(RunContext& ctx) {
  ctx.launcher.progress("5.0");
  for (const ExtractRow& row : kRows)
    if (!writeArchiveRow(ctx, row)) return false;
  waitUntilGameClosed(&ctx.runLogPath);
  printTitled("->准备更新...80%%\r");
  if (!writeCheckTable(ctx)) return false;
  printTitled("->准备更新...90%%\r");
  ctx.checkTable = readWholeFile(joinPath(ctx.binDir, "MD5.txt"));
  printTitled("->准备更新...100%%\n");
  ctx.launcher.progress("4.0");
  printTitled(std::string("->从v") + oldVersion + "升级到v" + newVersion + "......\n");
  return true;
}

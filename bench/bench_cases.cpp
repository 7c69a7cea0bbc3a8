// kxbench's data-set makers and timed operations. Paths are POSIX: the benchmarks run on Linux.
#include "bench/bench_cases.h"

#include <sys/resource.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>

#include "app/stages.h"
#include "app/updater.h"
#include "archive/kx_file_system.h"
#include "bench/bench_data.h"
#include "integrity/crc32.h"
#include "integrity/fingerprint.h"
#include "integrity/game_packs.h"
#include "report/run_state.h"
#include "sections/section_factory.h"
#include "sections/xml_parser.h"

namespace bench {
namespace {

namespace fs = std::filesystem;

// The packs the pack step is measured on: one of each group.
constexpr GamePackIndex kStepPacks[2] = {kResPack, kCNPack};

int packIndex(const std::string& name) {
  for (int i = 0; i < kGamePackCount; ++i)
    if (name == kGamePacks[i].name) return i;
  return -1;
}

std::string fingerprintFor(int index, const std::string& path) {
  const bool wholeCrc = kGamePacks[index].group == PackGroup::WholeCrc;
  return (wholeCrc ? getCRC32Value(path) : getSizeCRC32Value(path)).text();
}

bool writeText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  return static_cast<bool>(out);
}

std::string readText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool fail(const std::string& message) {
  std::fprintf(stderr, "kxbench: %s\n", message.c_str());
  return false;
}

int status(bool ok) { return ok ? 0 : 1; }

double cpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Times one operation inside this process and writes the figures `kxbench time` prints for a
// whole command: wall seconds, CPU seconds, peak resident KiB. The process's start (which here
// includes loading the upload library's many shared objects) is thereby left out, as it has
// nothing to do with the operation.
bool timedOperation(const std::function<bool()>& work) {
  const double cpuBefore = cpuSeconds();
  const auto start = std::chrono::steady_clock::now();
  const bool ok = work();
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  // The operation may print (the pack step shows its progress): the figures go to their own
  // file when bench/run.sh names one.
  const char* figures = std::getenv("KXBENCH_FIGURES");
  FILE* out = figures ? std::fopen(figures, "w") : stdout;
  if (!out) return false;
  std::fprintf(out, "%.4f %.4f %ld\n", wall, cpuSeconds() - cpuBefore, usage.ru_maxrss);
  if (out != stdout) std::fclose(out);
  return ok;
}

// The check table of a pack-step folder: `step` is the pack being updated (old.kx -> new.kx),
// every other pack is the empty archive and already at the new version, so the installer leaves
// it alone without waiting for a missing file.
std::string stepTable(const std::string& dir, int step) {
  const std::string empty = dir + "/empty.kx";
  std::string oldBlock = "<mox2.650>\n", newBlock = "<mox2.651>\n";
  for (int i = 0; i < kGamePackCount; ++i) {
    const std::string key = kGamePacks[i].tableKey;
    const std::string oldValue = i == step ? fingerprintFor(i, dir + "/old.kx") : "none";
    const std::string newValue = fingerprintFor(i, i == step ? dir + "/new.kx" : empty);
    oldBlock += "\t<" + key + ">" + oldValue + "</" + key + ">\n";
    newBlock += "\t<" + key + ">" + newValue + "</" + key + ">\n";
  }
  return newBlock + "</mox2.651>\n" + oldBlock + "</mox2.650>\n";
}

// make-pack DIR MIB ENTRIES: the pack (old.kx), its patch (patch.kx), the result the installer
// must produce (new.kx), the empty archive, one check table per measured pack, and the pack's
// entries as files (tree/) in the old state plus the changed files (change/) for zip and 7-Zip.
bool makePack(const std::string& dir, uint64_t mib, int entries) {
  const std::vector<Entry> pack = packEntries(mib << 20, entries);
  const std::vector<Entry> patch = patchEntries(entries);
  fs::create_directories(dir);
  if (!writeArchive(dir + "/old.kx", pack) || !writeArchive(dir + "/patch.kx", patch) ||
      !writeArchive(dir + "/new.kx", applyPatch(pack, patch)) ||
      !writeArchive(dir + "/empty.kx", {}))
    return fail("cannot write the archives in " + dir);
  // The fingerprints log to the working directory.
  fs::current_path(dir);
  for (GamePackIndex step : kStepPacks)
    if (!writeText(dir + "/table-" + kGamePacks[step].name + ".txt", stepTable(dir, step)))
      return fail("cannot write the tables");
  std::vector<Entry> changed;
  for (const Entry& e : patch)
    if (e.flag == 0) changed.push_back(e);
  if (!writeTree(dir + "/tree", pack) || !writeTree(dir + "/change", changed))
    return fail("cannot write the trees");
  std::ofstream deleted(dir + "/deleted.txt");
  for (const Entry& e : patch)
    if (e.flag != 0) deleted << e.name << "\n";
  return static_cast<bool>(deleted);
}

// make-step DIR: the folder of a pack step around a pack and its next version made elsewhere
// (DIR/old.kx, DIR/new.kx; the patch DIR/patch.kx is the caller's): the empty archive and the
// check tables.
bool makeStep(const std::string& dir) {
  if (!fs::is_regular_file(dir + "/old.kx") || !fs::is_regular_file(dir + "/new.kx"))
    return fail(dir + ": old.kx and new.kx must be there");
  if (!writeArchive(dir + "/empty.kx", {})) return fail("cannot write " + dir + "/empty.kx");
  fs::current_path(dir);
  for (GamePackIndex step : kStepPacks)
    if (!writeText(dir + "/table-" + kGamePacks[step].name + ".txt", stepTable(dir, step)))
      return fail("cannot write the tables");
  return true;
}

// prepare-step DIR PACK: a fresh installation folder DIR/install holding the old pack under
// PACK (a hard link: the installer replaces the file by renaming, so old.kx stays intact), the
// empty archive under every other pack name, PACK's patch archive and an empty bin folder.
bool prepareStep(const std::string& dir, const std::string& pack) {
  const int index = packIndex(pack);
  if (index < 0) return fail("unknown pack " + pack);
  const std::string install = dir + "/install";
  std::error_code error;
  fs::remove_all(install, error);
  fs::create_directories(install + "/bin", error);
  if (error) return fail("cannot make " + install);
  for (int i = 0; i < kGamePackCount; ++i) {
    fs::create_hard_link(i == index ? dir + "/old.kx" : dir + "/empty.kx",
                         install + "/" + kGamePacks[i].name, error);
    if (error) return fail("cannot link " + std::string(kGamePacks[i].name));
  }
  fs::copy_file(dir + "/patch.kx", install + "/" + kGamePacks[index].patchName, error);
  return !error || fail("cannot copy the patch");
}

// pack-step DIR PACK [exact]: the installer's pack stage over DIR/install, run in-process
// exactly as the installer runs it (fingerprint, merge, write, flush, swap, fingerprint again
// for each of the six packs). With "exact" the run also has the release's results table (the
// size and CRC of every byte of DIR/new.kx), which it checks the rewrite against before the
// swap. Succeeds when PACK was updated and verified.
bool packStep(const std::string& dir, const std::string& pack, bool exact) {
  RunContext ctx;
  ctx.found.installDir = dir + "/install";
  ctx.found.binDir = ctx.found.installDir + "/bin";
  ctx.found.runLogPath = ctx.found.binDir + "/updater.log";
  ctx.found.accountName = "bench";
  ctx.payload.checkTable = readText(dir + "/table-" + pack + ".txt");
  if (exact) {
    // Taken before the timing: the release tool does this, not the installer.
    const auto whole = getWholeFileCrc(dir + "/new.kx");
    if (!whole || !ctx.payload.results.add(pack, {static_cast<uint64_t>(whole.value().size),
                                          whole.value().crc}))
      return fail("cannot take the results of " + dir + "/new.kx");
  }
  for (bool& present : ctx.payload.patchPresent) present = true;
  if (chdir(ctx.found.binDir.c_str()) != 0) return fail("cannot enter " + ctx.found.binDir);
  // The whole step, and then everything on the disk, as `cp` + `sync` is measured.
  (void)timedOperation([&] {
    patchPacks(ctx);
    ::sync();
    return true;
  });
  for (const std::string& message : ctx.outcome.failureMessages) std::fprintf(stderr, "failure: %s\n", message.c_str());
  const bool updated =
      readText(ctx.found.runLogPath).find("->update successful: " + pack + "!") != std::string::npos;
  return (ctx.outcome.failureMessages.empty() && updated) || fail("the pack was not updated");
}

bool makeOpen(const std::string& dir, int entries) {
  const std::vector<Entry> all = manySmallEntries(entries);
  fs::create_directories(dir);
  return (writeArchive(dir + "/open.kx", all) && writeTree(dir + "/tree", all)) ||
         fail("cannot write the open case in " + dir);
}

// open ARCHIVE ENTRY: what a reader of one entry pays, index included.
bool openAndRead(const std::string& archive, const std::string& entry) {
  int32_t entries = 0;
  const bool read = timedOperation([&] {
    KXFileSystemRef kx = makeRef<KXFileSystem>(archive);
    entries = kx->entryCount();
    return static_cast<bool>(kx->readFile(entry));
  });
  if (entries == 0) return fail("cannot open " + archive);
  return read || fail("cannot read " + entry);
}

// make-file FILE MIB: incompressible content; prints the CRC-32 of the part the whole-file
// fingerprint covers, computed with zlib, independently of the kernels under test.
bool makeFile(const std::string& path, uint64_t mib) {
  constexpr uint32_t kPiece = 4u << 20;
  std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "wb"), &std::fclose);
  if (!file) return fail("cannot write " + path);
  std::string piece;
  uLong crc = 0;
  const uint64_t total = mib << 20;
  for (uint64_t done = 0; done < total; done += kPiece) {
    fillNoise(piece, kPiece, static_cast<uint32_t>(done / kPiece));
    const uint64_t covered = std::min<uint64_t>(kPiece, std::max<int64_t>(0, kWholeFileCrcLimit - static_cast<int64_t>(done)));
    crc = crc32(crc, reinterpret_cast<const Bytef*>(piece.data()), static_cast<uInt>(covered));
    if (std::fwrite(piece.data(), 1, piece.size(), file.get()) != piece.size())
      return fail("cannot write " + path);
  }
  if (std::fclose(file.release()) != 0) return fail("cannot write " + path);
  std::printf("%s\n", crcText(static_cast<uint32_t>(crc)).c_str());
  return true;
}

// exact FILE: the exactness check alone, the size and CRC of every byte of FILE.
bool exactCheck(const std::string& path) {
  bool read = false;
  (void)timedOperation([&] {
    read = static_cast<bool>(getWholeFileCrc(path));
    return true;
  });
  return read || fail("cannot read " + path);
}

bool fingerprint(const std::string& path, const std::string& expected) {
  std::string value;
  (void)timedOperation([&] {
    value = getCRC32Value(path).text();
    return true;
  });
  return expected.empty() || value == expected || fail("fingerprint " + value + ", expected " + expected);
}

double secondsOf(const std::function<void()>& work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Warm-up once, then the median of `runs`.
double medianSeconds(int runs, const std::function<void()>& work) {
  work();
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) times.push_back(secondsOf(work));
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

// crc-kernels MIB RUNS: "name GB/s" for each kernel available here and zlib called directly.
bool crcKernels(uint64_t mib, int runs) {
  std::vector<unsigned char> buffer(mib << 20);
  for (size_t i = 0; i < buffer.size(); ++i) buffer[i] = static_cast<unsigned char>(i * 131);
  const struct {
    Crc32Kernel kernel;
    const char* name;
  } kernels[] = {{Crc32Kernel::Zlib, "zlib"}, {Crc32Kernel::Pclmul, "pclmul"},
                 {Crc32Kernel::Vpclmul256, "vpclmul256"}, {Crc32Kernel::Vpclmul, "vpclmul"}};
  for (const auto& k : kernels) {
    if (!crc32KernelAvailable(k.kernel)) continue;
    uint32_t crc = 0;
    const double t = medianSeconds(runs, [&] { crc = crc32UpdateWith(k.kernel, 0, buffer.data(), buffer.size()); });
    std::printf("%s %.2f%s\n", k.name, buffer.size() / t / 1e9,
                k.kernel == crc32ActiveKernel() ? " active" : "");
    if (crc != crc32UpdateWith(Crc32Kernel::Zlib, 0, buffer.data(), buffer.size()))
      return fail(std::string("wrong CRC from ") + k.name);
  }
  return true;
}

// A configuration text of nested groups with entities, comments and attributes.
std::string xmlText(int groups) {
  std::string text = "<?xml version=\"1.0\"?>\n<config>\n";
  for (int g = 0; g < groups; ++g) {
    text += "\t<group id=\"" + std::to_string(g) + "\">\n\t\t<!-- group " + std::to_string(g) + " -->\n";
    for (int i = 0; i < 8; ++i)
      text += "\t\t<item_" + std::to_string(i) + ">\tvalue " + std::to_string(g * 8 + i) +
              " &amp; more &#65;\t</item_" + std::to_string(i) + ">\n";
    text += "\t\t<position>1.5 2.5 3.5</position>\n\t\t<flag/>\n\t</group>\n";
  }
  return text + "</config>\n";
}

// xml RUNS: "parse MiB/s" (in place, tree freed, block copy not counted) and "write MiB/s".
bool xmlThroughput(int runs) {
  const std::string text = xmlText(22000);
  const double mib = static_cast<double>(text.size()) / (1 << 20);
  BlockRef source = BinaryBlock::fromString(text, "BinaryBlock/DataSection");
  const double copy = medianSeconds(runs, [&] {
    BlockRef c(new BinaryBlock(source->data(), source->length(), "BinaryBlock/DataSection"));
  });
  bool parsed = true;
  const double parse = medianSeconds(runs, [&] {
    BlockRef c(new BinaryBlock(source->data(), source->length(), "BinaryBlock/DataSection"));
    parsed = parsed && parseXmlSection("config", c);
  }) - copy;
  SectionRef tree = parseXmlSection("config", BinaryBlock::fromString(text, "bench"));
  if (!parsed || !tree) return fail("the XML text did not parse");
  size_t written = 0;
  const double write = medianSeconds(runs, [&] { written = tree->getBlock()->length(); });
  std::printf("parse %.1f\nwrite %.1f\n", mib / parse, written / double(1 << 20) / write);
  return true;
}

uint64_t number(const std::string& text) { return std::strtoull(text.c_str(), nullptr, 10); }

}  // namespace

int runCase(const std::string& command, const std::vector<std::string>& args) {
  const size_t n = args.size();
  if (command == "make-pack" && n == 3) return status(makePack(args[0], number(args[1]), static_cast<int>(number(args[2]))));
  if (command == "make-step" && n == 1) return status(makeStep(args[0]));
  if (command == "pack-public" && n == 3) return status(packPublicRelease(args[0], args[1], args[2]));
  if (command == "prepare-step" && n == 2) return status(prepareStep(args[0], args[1]));
  if (command == "pack-step" && (n == 2 || (n == 3 && args[2] == "exact")))
    return status(packStep(args[0], args[1], n == 3));
  if (command == "exact" && n == 1) return status(exactCheck(args[0]));
  if (command == "make-open" && n == 2) return status(makeOpen(args[0], static_cast<int>(number(args[1]))));
  if (command == "open" && n == 2) return status(openAndRead(args[0], args[1]));
  if (command == "make-file" && n == 2) return status(makeFile(args[0], number(args[1])));
  if (command == "fingerprint" && (n == 1 || n == 2)) return status(fingerprint(args[0], n == 2 ? args[1] : ""));
  if (command == "make-release" && n == 2) return status(makeScaledRelease(args[0], static_cast<int>(number(args[1]))));
  if (command == "crc-kernels" && n == 2) return status(crcKernels(number(args[0]), std::max(1, static_cast<int>(number(args[1])))));
  if (command == "xml" && n == 1) return status(xmlThroughput(std::max(1, static_cast<int>(number(args[0])))));
  return kUsage;
}

}  // namespace bench

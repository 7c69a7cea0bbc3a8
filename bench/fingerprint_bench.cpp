// Whole-file fingerprint of a cached 1,000 MiB file against `cat FILE > /dev/null` and
// `cksum FILE` in the same run, and CRC-32 throughput in memory of each kernel against zlib's.
// Usage: fingerprint_bench [folder for the scratch file] [runs]
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "integrity/crc32.h"
#include "integrity/fingerprint.h"

namespace {

constexpr size_t kFileBytes = size_t{1000} << 20;

double seconds(const std::function<void()>& work) {
  auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// Warm-up once, then `runs` timed runs; the median.
double measure(int runs, const std::function<void()>& work) {
  work();
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) times.push_back(seconds(work));
  return median(times);
}

void writeScratchFile(const std::string& path) {
  std::vector<char> block(size_t{4} << 20);
  uint32_t state = 12345;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  for (size_t written = 0; written < kFileBytes; written += block.size()) {
    for (char& c : block) {
      state = state * 1664525u + 1013904223u;
      c = static_cast<char>(state >> 24);
    }
    out.write(block.data(), static_cast<std::streamsize>(block.size()));
  }
}

void run(const std::string& command) {
  if (std::system(command.c_str()) != 0) std::fprintf(stderr, "failed: %s\n", command.c_str());
}

const char* kernelName(Crc32Kernel kernel) {
  switch (kernel) {
    case Crc32Kernel::Zlib:
      return "zlib crc32";
    case Crc32Kernel::Pclmul:
      return "PCLMULQDQ";
    case Crc32Kernel::Vpclmul:
      return "VPCLMULQDQ";
  }
  return "?";
}

}  // namespace

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  fs::path folder = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path();
  int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
  fs::path scratch = folder / "kx_fingerprint_bench";
  fs::create_directories(scratch);
  // The fingerprint logs to "updater.log" in the current folder: keep it in the scratch folder.
  fs::current_path(scratch);
  const std::string file = (scratch / "pack.bin").string();
  writeScratchFile(file);

  std::string fingerprint;
  double cat = measure(runs, [&] { run("cat '" + file + "' > /dev/null"); });
  double ours = measure(runs, [&] { fingerprint = getCRC32Value(file); });
  double cksum = measure(runs, [&] { run("cksum '" + file + "' > /dev/null"); });
  const double mib = static_cast<double>(kFileBytes) / (1 << 20);
  std::printf("file: %.0f MiB, %d runs each after a warm-up, medians\n", mib, runs);
  std::printf("cat > /dev/null       %7.3f s  %6.2f GB/s\n", cat, kFileBytes / cat / 1e9);
  std::printf("getCRC32Value         %7.3f s  %6.2f GB/s  (%s, ratio to cat %.2f)\n", ours,
              kFileBytes / ours / 1e9, fingerprint.c_str(), ours / cat);
  std::printf("cksum                 %7.3f s  %6.2f GB/s\n", cksum, kFileBytes / cksum / 1e9);

  // In-memory throughput over a buffer larger than the caches.
  std::vector<unsigned char> buffer(size_t{256} << 20);
  for (size_t i = 0; i < buffer.size(); ++i) buffer[i] = static_cast<unsigned char>(i * 131);
  for (Crc32Kernel kernel : {Crc32Kernel::Zlib, Crc32Kernel::Pclmul, Crc32Kernel::Vpclmul}) {
    if (!crc32KernelAvailable(kernel)) continue;
    uint32_t crc = 0;
    double t = measure(runs, [&] { crc = crc32UpdateWith(kernel, 0, buffer.data(), buffer.size()); });
    std::printf("%-12s in memory %7.3f s  %6.2f GB/s  (%08x)%s\n", kernelName(kernel), t,
                buffer.size() / t / 1e9, crc, kernel == crc32ActiveKernel() ? "  active" : "");
  }
  double zlibDirect = measure(runs, [&] {
    (void)::crc32(0, buffer.data(), static_cast<uInt>(buffer.size()));
  });
  std::printf("zlib %-7s direct  %7.3f s  %6.2f GB/s\n", zlibVersion(), zlibDirect,
              buffer.size() / zlibDirect / 1e9);

  fs::remove_all(scratch);
  return 0;
}

// kxbench: the benchmark harness's one program. bench/run.sh makes the data sets with it, runs
// every timed command (ours and the peers') through its `time` command, and reads the figures it
// prints. Each command does one thing, so that a case can be timed as a whole process, the way
// the peer programs are timed.
#include <sys/resource.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bench_cases.h"

namespace {

// Runs argv[0..] with its standard output sent to /dev/null, and prints one line: wall seconds,
// CPU seconds (user + system, the command and everything it waited for) and the peak resident
// memory in KiB of the largest process among them. The exit status is the command's.
int timeCommand(char** argv) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child < 0) return 127;
  if (child == 0) {
    const int devnull = open("/dev/null", O_WRONLY);
    if (devnull >= 0) dup2(devnull, STDOUT_FILENO);
    execvp(argv[0], argv);
    std::perror(argv[0]);
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (wait4(child, &status, 0, &usage) != child) return 127;
  const double wall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const double cpu = usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
                     (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  std::printf("%.4f %.4f %ld\n", wall, cpu, usage.ru_maxrss);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

void usage() {
  std::fprintf(stderr,
               "usage: kxbench COMMAND ...\n"
               "  time -- PROGRAM ARGS...        wall s, cpu s, peak KiB of one command\n"
               "  make-pack DIR MIB ENTRIES      pack, patch, expected result, table, trees\n"
               "  pack-public SOURCE HOW OUT     pack of a folder (HOW: zlib level 1-9) or of a\n"
               "                                 ZIP's stored bytes (HOW: zip)\n"
               "  make-step DIR                  tables and empty pack around DIR/old.kx, new.kx\n"
               "  prepare-step DIR PACK          a fresh installation for pack-step\n"
               "  pack-step DIR PACK [exact]     the installer's step for the six packs; with\n"
               "                                 exact, checked against DIR/new.kx's size and CRC\n"
               "  exact FILE                     size and CRC of every byte (the exactness check)\n"
               "  make-open DIR ENTRIES          archive of small entries and its tree\n"
               "  open ARCHIVE ENTRY             open the archive, read one entry\n"
               "  make-file FILE MIB             incompressible file; prints its CRC-32\n"
               "  fingerprint FILE [CRC]         whole-file fingerprint, checked against CRC\n"
               "  make-release DIR MIB           demo release with packs grown by MIB each\n"
               "  crc-kernels MIB RUNS           in-memory CRC-32 throughput of each kernel\n"
               "  xml RUNS                       XML section parse and write throughput\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    usage();
    return 2;
  }
  const std::string command = argv[1];
  std::vector<std::string> args(argv + 2, argv + argc);
  if (command == "time") {
    int first = 2;
    if (first < argc && std::strcmp(argv[first], "--") == 0) ++first;
    if (first >= argc) {
      usage();
      return 2;
    }
    return timeCommand(argv + first);
  }
  const int result = bench::runCase(command, args);
  if (result == bench::kUsage) usage();
  return result;
}

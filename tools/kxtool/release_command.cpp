// release: the ten payload files of an installer from two installations, and what they change.
#include <cstdio>
#include <iomanip>
#include <ostream>

#include "tools/kxtool/commands.h"
#include "tools/kxtool/progress_bar.h"
#include "tools/release/payload_release.h"

namespace kxtool {
namespace {

void printSummary(std::ostream& out, const release::ReleaseSummary& summary,
                  const std::string& payload) {
  out << "release " << summary.from << " -> " << summary.to << "\n";
  out << std::left << std::setw(20) << "pack" << std::right << std::setw(10) << "replaced"
      << std::setw(8) << "added" << std::setw(9) << "deleted" << std::setw(14) << "patch bytes"
      << "\n";
  for (const release::PackSummary& pack : summary.packs)
    out << std::left << std::setw(20) << pack.pack << std::right << std::setw(10) << pack.replaced
        << std::setw(8) << pack.added << std::setw(9) << pack.deleted << std::setw(14)
        << pack.patchBytes << "\n";
  out << "loose files (bin, cache): " << summary.looseAdded << " added, " << summary.looseChanged
      << " changed, " << summary.looseDeleted << " deleted\n";
  out << "payload: " << summary.payloadBytes << " bytes in 9 files, " << payload << "\n";
}

}  // namespace

int releaseCommand(const Invocation& call, ToolIo& io) {
  release::ReleaseRequest request;
  request.oldDir = userPath(io, call.args[0]);
  request.newDir = userPath(io, call.args[1]);
  request.payloadDir = userPath(io, call.value("-o"));
  if (!call.value("--previous-table").empty())
    request.previousTable = userPath(io, call.value("--previous-table"));
  request.expectedFrom = call.value("--from");
  request.expectedTo = call.value("--to");
  ProgressBar bar(io.out, "kxtool release: rehearsing", io.progress);
  request.rehearsalEvents = &bar;
  release::ReleaseSummary summary;
  std::string error;
  const bool made = release::makeRelease(request, summary, error, [&](const std::string& step) {
    io.err << "kxtool release: " << step << "...\n";
    io.err.flush();
  });
  bar.finish();
  if (!made) return failure(io, call, error);
  printSummary(io.out, summary, call.value("-o"));
  return kExitOk;
}

}  // namespace kxtool

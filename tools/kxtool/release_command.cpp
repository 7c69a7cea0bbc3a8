// release: the ten payload files of an installer from two installations, and what they change.
#include <cstdio>
#include <iomanip>
#include <ostream>
#include <sstream>

#include "tools/kxtool/archive_access.h"
#include "tools/kxtool/commands.h"
#include "tools/kxtool/progress_bar.h"
#include "tools/release/payload_release.h"

namespace kxtool {
namespace {

using release::Change;

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
  for (const release::PackSummary& pack : summary.packs)
    if (pack.deltaEntries + pack.wholeEntries > 0)
      out << "  " << pack.pack << ": " << pack.deltaEntries << " replaced as deltas, "
          << pack.wholeEntries << " whole, " << pack.deltaBytesSaved << " bytes saved\n";
  out << "loose files (bin, cache): " << summary.looseAdded << " added, " << summary.looseChanged
      << " changed, " << summary.looseDeleted << " deleted\n";
  // A deletion is the change players cannot undo: each one by name, here and not only in a list.
  for (const release::LooseSummary& folder : summary.loose)
    for (const Change& file : folder.deleted)
      out << "  deletes " << folder.folder << "/" << file.name << " (" << file.oldSize
          << " bytes)\n";
  out << "payload: " << summary.payloadBytes << " bytes in 9 files, " << payload << "\n";
}

std::string sizeText(int64_t size) { return size < 0 ? "null" : std::to_string(size); }

void jsonChanges(std::ostream& out, const char* key, const std::vector<Change>& changes,
                 const char* indent) {
  out << indent << "\"" << key << "\": [";
  const char* separator = "\n";
  for (const Change& change : changes) {
    out << separator << indent << "  {\"name\": " << jsonString(change.name)
        << ", \"oldSize\": " << sizeText(change.oldSize)
        << ", \"newSize\": " << sizeText(change.newSize) << "}";
    separator = ",\n";
  }
  out << (changes.empty() ? "" : "\n") << (changes.empty() ? "" : indent) << "]";
}

// The changes as JSON. Every level is an object, so that later fields (how an entry travels,
// bytes saved) join without changing what a reader of this form finds.
std::string changesJson(const release::ReleaseSummary& summary) {
  std::ostringstream out;
  size_t replaced = 0, added = 0, deleted = 0;
  out << "{\n  \"format\": \"kxpatch release changes\",\n  \"formatVersion\": 1,\n"
      << "  \"from\": " << jsonString(summary.from) << ",\n  \"to\": " << jsonString(summary.to)
      << ",\n  \"packs\": [";
  const char* separator = "\n";
  for (const release::PackSummary& pack : summary.packs) {
    out << separator << "    {\n      \"pack\": " << jsonString(pack.pack)
        << ",\n      \"patchBytes\": " << pack.patchBytes
        << ",\n      \"deltaEntries\": " << pack.deltaEntries
        << ",\n      \"wholeEntries\": " << pack.wholeEntries
        << ",\n      \"deltaBytesSaved\": " << pack.deltaBytesSaved << ",\n";
    jsonChanges(out, "replaced", pack.replacedEntries, "      ");
    out << ",\n";
    jsonChanges(out, "added", pack.addedEntries, "      ");
    out << ",\n";
    jsonChanges(out, "deleted", pack.deletedEntries, "      ");
    out << ",\n      \"totals\": {\"replaced\": " << pack.replaced << ", \"added\": " << pack.added
        << ", \"deleted\": " << pack.deleted << "}\n    }";
    separator = ",\n";
    replaced += pack.replaced;
    added += pack.added;
    deleted += pack.deleted;
  }
  out << "\n  ],\n  \"loose\": [";
  separator = "\n";
  for (const release::LooseSummary& folder : summary.loose) {
    out << separator << "    {\n      \"folder\": " << jsonString(folder.folder) << ",\n";
    jsonChanges(out, "added", folder.added, "      ");
    out << ",\n";
    jsonChanges(out, "changed", folder.changed, "      ");
    out << ",\n";
    jsonChanges(out, "deleted", folder.deleted, "      ");
    out << ",\n      \"totals\": {\"added\": " << folder.added.size()
        << ", \"changed\": " << folder.changed.size() << ", \"deleted\": "
        << folder.deleted.size() << "}\n    }";
    separator = ",\n";
  }
  out << "\n  ],\n  \"totals\": {\"packEntriesReplaced\": " << replaced
      << ", \"packEntriesAdded\": " << added << ", \"packEntriesDeleted\": " << deleted
      << ", \"looseAdded\": " << summary.looseAdded << ", \"looseChanged\": "
      << summary.looseChanged << ", \"looseDeleted\": " << summary.looseDeleted
      << ", \"payloadBytes\": " << summary.payloadBytes << "}\n}\n";
  return out.str();
}

void textChanges(std::ostream& out, const char* word, const std::string& prefix,
                 const std::vector<Change>& changes) {
  for (const Change& change : changes) {
    out << "  " << std::left << std::setw(9) << word << prefix << change.name << "  ";
    if (change.oldSize < 0) out << change.newSize << " bytes\n";
    else if (change.newSize < 0) out << "(" << change.oldSize << " bytes)\n";
    else out << change.oldSize << " -> " << change.newSize << " bytes\n";
  }
}

// Every change by name, one line each: what the report's readers look through.
std::string changesText(const release::ReleaseSummary& summary) {
  std::ostringstream out;
  for (const release::PackSummary& pack : summary.packs) {
    out << pack.pack << ": ";
    if (pack.replaced + pack.added + pack.deleted == 0) {
      out << "unchanged\n";
      continue;
    }
    out << pack.replaced << " replaced, " << pack.added << " added, " << pack.deleted
        << " deleted; patch " << pack.patchBytes << " bytes\n";
    if (pack.deltaEntries + pack.wholeEntries > 0)
      out << "  " << pack.deltaEntries << " replaced as deltas, " << pack.wholeEntries
          << " whole; " << pack.deltaBytesSaved << " bytes saved\n";
    textChanges(out, "replaced", "", pack.replacedEntries);
    textChanges(out, "added", "", pack.addedEntries);
    textChanges(out, "deleted", "", pack.deletedEntries);
  }
  for (const release::LooseSummary& folder : summary.loose) {
    const size_t count = folder.added.size() + folder.changed.size() + folder.deleted.size();
    out << folder.folder << "/:" << (count ? "" : " unchanged") << "\n";
    textChanges(out, "added", folder.folder + "/", folder.added);
    textChanges(out, "changed", folder.folder + "/", folder.changed);
    textChanges(out, "deleted", folder.folder + "/", folder.deleted);
  }
  return out.str();
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
  request.delta = call.has("--delta");
  const std::string json = call.value("--json"), changes = call.value("--changes");
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
  const struct {
    const std::string& path;
    std::string text;
  } reports[] = {{json, changesJson(summary)}, {changes, changesText(summary)}};
  for (const auto& report : reports)
    if (!report.path.empty() && !writeFileReplacing(userPath(io, report.path), report.text))
      return failure(io, call, report.path + ": cannot write (the payload is made)");
  printSummary(io.out, summary, call.value("-o"));
  if (!changes.empty() || !json.empty())
    io.out << "every change by name: " << (changes.empty() ? json : changes)
           << (changes.empty() || json.empty() ? "" : " (JSON: " + json + ")") << "\n";
  else
    io.out << "every change by name: --changes FILE (text) or --json FILE\n";
  if (request.previousTable.empty())
    io.err << "kxtool release: warning: no --previous-table: MD5.txt holds only the " << summary.to
           << " and " << summary.from << " blocks. The older versions' blocks and the MiniCheck "
              "and PackCheck blocks are left out, although the installer writes this table over "
              "every player's bin\\MD5.txt, so nothing there can check a file against them any "
              "more; and OLD was not compared with the fingerprints players' installations have.\n";
  return kExitOk;
}

}  // namespace kxtool

// The run's journal and the other files the run makes in the installation folder.
//
// The installation reads as the new version as soon as CN_packed.kx is swapped in, and when the
// version lives in vemo_packed.kx that happens one swap before vemo's. A run cut short there (or
// one whose vemo swap and CN put-back both fail) would leave an installation that every later
// run refuses. So the run keeps "packUpdate.journal" in the installation folder from before its
// first swap until every file it changes is at the new version; a later run that finds a journal
// naming its own two versions goes on even when the version already reads new, finishes what is
// not yet new and removes the names the interrupted run may have left.
#pragma once

#include <string>
#include <vector>

struct RunContext;

inline constexpr char kJournalName[] = "packUpdate.journal";

// What a run finds under the journal's name.
enum class JournalFound {
  None,   // nothing: an ordinary run
  Ours,   // a journal of this installer's two versions: finish that update
  Other,  // anything else (another release's journal, unreadable bytes, not a regular file)
};

// The journal's bytes for an update from `from` to `to`, and the reverse. The format is three
// lines: a header, "from=" + the old version, "to=" + the new one, each ending in LF.
[[nodiscard]] std::string encodeJournal(const std::string& from, const std::string& to);
[[nodiscard]] bool decodeJournal(const std::string& bytes, std::string* from, std::string* to);

// What lies under the journal's name in `installDir` (read only as a small regular file).
[[nodiscard]] JournalFound findJournal(const std::string& installDir);

// Puts the run's journal in place, written whole and flushed before it takes its name. False
// when it cannot be written: the run must not go on to its swaps then.
[[nodiscard]] bool writeJournal(const std::string& installDir);

// The payload archives the run writes into the installation folder, by name.
[[nodiscard]] std::vector<std::string> payloadArchiveNames();
// Removes the payload archives of a run that ends before the packs, and its journal when the
// installation still reads as the old version (no pack was swapped: a later run starts afresh).
void tidyBeforePacks(const RunContext& ctx);

// Removes, by exact name, everything an interrupted run of this update may have left (each
// pack's and written loose file's temporary name, the old CN kept for a moment, the payload
// archives); none of it is needed to finish the update, which only goes forward. Then, when
// `finished`, the journal itself, last: a run killed while tidying still finds its journal.
void removeLeftovers(const RunContext& ctx, bool finished);

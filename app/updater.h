// The update object and its run: ten stages, one function each, called in order. A stage that
// cannot go on ends the run; nothing already written is rolled back.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/journal.h"
#include "integrity/game_packs.h"
#include "integrity/results_table.h"
#include "platform/platform.h"
#include "report/run_state.h"
#include "report/upload.h"

// What the stages of one run share, grouped by when it becomes known. Each stage reads and
// writes only the fields it needs.
struct RunContext {
  // What discovery found before the run wrote anything: the machine, the installation and its
  // version (run start to the version check).
  struct Found {
    std::string computerName;
    std::string accountName;
    std::string installDir;
    std::string binDir;
    std::string runLogPath;
    std::string localVersion;
    // The archive the version was read from; it is patched only when no earlier pack was left
    // behind, so that an unfinished installation still reads as the old version.
    std::string versionArchivePath;
    // What the version check found under the journal's name. A journal of another update is
    // left alone: the run then neither writes nor removes one.
    JournalFound journal = JournalFound::None;
  } found;

  // What the payload brought (the extraction stage).
  struct Payload {
    bool patchPresent[kGamePackCount] = {};
    std::string checkTable;
    // What each file the run writes must be, byte for byte; empty when the payload has no
    // results table (the check table's fingerprints are then the only check).
    ResultsTable results;
  } payload;

  // How the writing stages went, for the completion stage.
  struct Outcome {
    // The user-facing failure texts, in the order they happened; the first is the one shown.
    std::vector<std::string> failureMessages;
    bool uploadNeeded = false;
    // Which folder of the log server the run log goes to.
    UploadFolderKind uploadFolderKind = UploadFolderKind::kFirstGroup;
    // A pack or loose file could not be written and is still at the old version: a later run
    // can finish it.
    bool fileLeftAtOldVersion = false;
    // The loose files the run wrote through their temporary names, for the tidying at its end.
    std::vector<std::string> looseFilesWritten;
  } outcome;

  // Held from before the first write to the end of the run: two installers that do not share
  // the mutex (other users, other runtime folders) still never write one installation at once.
  platform::FolderLock installationLock;
  Launcher launcher;

  // Adds a user-facing failure text.
  void addFailure(const std::string& message) { outcome.failureMessages.push_back(message); }
  // Whether any failure text was added.
  bool anyFailure() const { return !outcome.failureMessages.empty(); }
};

class Updater {
 public:
  // `autoRun`: the launcher started the run ("AutoRun"), and hears its progress. The system
  // information the run reports is the process's, gathered by installerMain.
  explicit Updater(bool autoRun = false) : autoRun_(autoRun) {}
  Updater(const Updater&) = delete;
  Updater& operator=(const Updater&) = delete;

  // True only when the run reaches its success line.
  bool run();

 private:
  bool autoRun_;
};

// The program entry, separate from main() so that tests can drive it.
int installerMain(int argc, char** argv);

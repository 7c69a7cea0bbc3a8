// The stages of the update run, in the order Updater::run calls them. A stage returning false
// ends the run early.
#pragma once

#include "app/updater.h"

void beginRun(RunContext& ctx);                 // 1: "Begin", computer name, upload folder
void waitForGameClosed(RunContext& ctx);        // 2: asks until the game is closed
void prepareConsole(RunContext& ctx);           // 3: title, greyed Close item
[[nodiscard]] bool locateInstallationStage(RunContext& ctx);  // 4: account name, install folder
[[nodiscard]] bool lockInstallation(RunContext& ctx);          // 4a: held to the run's end
void setRunLogPath(RunContext& ctx);            // 5
[[nodiscard]] bool checkVersion(RunContext& ctx);           // 6: installed version applies
[[nodiscard]] bool extractPayload(RunContext& ctx);         // 7: temporary archives, MD5.txt
[[nodiscard]] bool startJournal(RunContext& ctx);           // 7a: kept until every file is new
[[nodiscard]] bool updateLooseFiles(RunContext& ctx);       // 8: bin and cache folders
void patchPacks(RunContext& ctx);               // 9: verify and patch the six packs
void closeJournal(RunContext& ctx);             // 9a: leftovers and journal, once all is new
[[nodiscard]] bool completeRun(RunContext& ctx);            // 10: upload, final message

// Stages not built yet: each lets the run go on unchanged.
#include "app/stages.h"

bool checkVersion(RunContext&) { return true; }
bool extractPayload(RunContext&) { return true; }
bool updateLooseFiles(RunContext&) { return true; }
void patchPacks(RunContext&) {}
bool completeRun(RunContext&) { return true; }

Updater::Updater() {}
Updater::~Updater() {}

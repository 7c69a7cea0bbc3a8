// The per-user preferences file the report code reads, put where the code looks for it and taken
// away again. POSIX: the application-data folder is moved into a scratch folder through
// XDG_CONFIG_HOME. Windows has no such switch (the folder comes from the shell), so the file is
// written in the real place and whatever was there before is put back afterwards.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "platform/platform.h"
#include "tests/support/test_support.h"

namespace testing_support {

class ScopedPreferencesFile {
 public:
  ScopedPreferencesFile() {
#ifdef _WIN32
    const std::string maker = platform::appDataFolder(true) + "\\Brightfall";
    const std::string folder = maker + "\\Halvoreen";
    if (!std::filesystem::exists(maker))
      created_ = maker;
    else if (!std::filesystem::exists(folder))
      created_ = folder;
    makeDirs(folder);
    path_ = folder + "\\preferences.xml";
    if (fileExists(path_)) {
      saved_ = readFile(path_);
      std::filesystem::remove(path_);
    }
#else
    path_ = scratch_ / "Brightfall/Halvoreen/preferences.xml";
#endif
  }
  ~ScopedPreferencesFile() {
#ifdef _WIN32
    std::error_code ignored;
    if (saved_) {
      std::filesystem::remove(path_, ignored);
      writeFile(path_, *saved_);
    } else if (!created_.empty()) {
      std::filesystem::remove_all(created_, ignored);
    } else {
      std::filesystem::remove(path_, ignored);
    }
#endif
  }
  ScopedPreferencesFile(const ScopedPreferencesFile&) = delete;
  ScopedPreferencesFile& operator=(const ScopedPreferencesFile&) = delete;

  const std::string& path() const { return path_; }
  void write(const std::string& bytes) {
    makeDirs(std::filesystem::path(path_).parent_path().string());
    writeFile(path_, bytes);
  }

 private:
  std::string path_;
#ifdef _WIN32
  std::string created_;  // the outermost folder this object made, if any
  std::optional<std::string> saved_;
#else
  TempDir scratch_;
  ScopedEnv config_{"XDG_CONFIG_HOME", scratch_.path().c_str()};
#endif
};

}  // namespace testing_support

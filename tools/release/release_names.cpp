// Names a release may ship, and the files it must leave alone.
#include "tools/release/release_names.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <system_error>

#include "integrity/game_packs.h"
#include "platform/ansi_text.h"

namespace release {
namespace {

namespace fs = std::filesystem;

// A name as a message can show it: control bytes as \xNN, so that a line break in a name
// cannot cut the message in two.
std::string shown(const std::string& name) {
  std::string out;
  for (unsigned char c : name) {
    if (c < 0x20 || c == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string upperAscii(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

std::vector<std::string> componentsOf(const std::string& name) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t slash; (slash = name.find('/', start)) != std::string::npos; start = slash + 1)
    parts.push_back(name.substr(start, slash - start));
  parts.push_back(name.substr(start));
  return parts;
}

const std::u16string kTempSuffix = u"TEMP";

bool endsWith(const std::u16string& text, const std::u16string& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// Names the installer gives its own files in the installation folder: the payload archives it
// writes there, each pack's rewritten form and kept copy, and its journal.
std::set<std::u16string> installerWorkingNames() {
  std::set<std::u16string> names{foldedName("binTemp.kx"), foldedName("cacheTemp.kx"),
                                 foldedName("packUpdate.journal")};
  for (const GamePack& pack : kGamePacks) {
    names.insert(foldedName(pack.patchName));
    names.insert(foldedName(std::string(pack.name) + "temp"));
    names.insert(foldedName(std::string(pack.name) + "old"));
  }
  return names;
}

// Files the installer writes into bin itself.
const char* const kInstallerBinFiles[] = {"MD5.txt", "updater.log", "pack.log"};

struct GroundFile {
  const char* name;
  const char* why;
};
const GroundFile kGroundFiles[] = {
    {"bin/RakNet.dll",
     "the installer finds the installation by this file, so the next patch could not find it"},
    {"bin/mox.exe",
     "the game's executable, which the installer checks against the table (and the game cannot "
     "start without it)"},
};

}  // namespace

std::u16string foldedName(const std::string& gbk) {
  std::u16string name = platform::ansiToUtf16(gbk);
  // Bytes that are not GBK stay apart from each other (as private-use characters), so that two
  // such names never fold into one.
  if (name.find(u'\xFFFD') != std::u16string::npos) {
    name.clear();
    for (unsigned char c : gbk) name += static_cast<char16_t>(c < 0x80 ? c : 0xF700 + c);
  }
  for (char16_t& c : name) {
    if ((c >= u'a' && c <= u'z') || (c >= 0xFF41 && c <= 0xFF5A) || (c >= 0x0430 && c <= 0x044F))
      c = static_cast<char16_t>(c - 0x20);
    else if (c >= 0x03B1 && c <= 0x03C9 && c != 0x03C2)
      c = static_cast<char16_t>(c - 0x20);
    else if (c >= 0x0450 && c <= 0x045F)
      c = static_cast<char16_t>(c - 0x50);
    else if (c >= 0x2170 && c <= 0x217F)
      c = static_cast<char16_t>(c - 0x10);
  }
  return name;
}

std::string windowsNameProblem(const std::string& component) {
  if (component.empty()) return "an empty name";
  for (size_t i = 0; i < component.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(component[i]);
    if (c < 0x20) return "holds a control character, which Windows forbids in names";
    if (c < 0x80) {
      if (std::string("<>:\"/\\|?*").find(static_cast<char>(c)) != std::string::npos)
        return std::string("holds the character ") + static_cast<char>(c) +
               ", which Windows forbids in names";
      continue;
    }
    const unsigned char trail = i + 1 < component.size() ? component[i + 1] : 0;
    if (c == 0x80 || c == 0xFF || trail < 0x40 || trail == 0x7F || trail == 0xFF)
      return "is not GBK text (the players' code page), so Windows cannot name the file";
    if (trail == 0x5C)
      return "holds a GBK character whose second byte is 0x5C, the installer's path separator";
    ++i;
  }
  if (platform::ansiToUtf16(component).find(u'\xFFFD') != std::u16string::npos)
    return "is not GBK text (the players' code page), so Windows cannot name the file";
  const char last = component.back();
  if (last == '.' || last == ' ')
    return std::string("ends in a ") + (last == '.' ? "dot" : "space") +
           ", which Windows drops from names";
  std::string stem = upperAscii(component.substr(0, component.find('.')));
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();
  static const std::set<std::string> kDevices = [] {
    std::set<std::string> devices{"CON", "PRN", "AUX", "NUL"};
    for (char digit = '1'; digit <= '9'; ++digit) {
      devices.insert(std::string("COM") + digit);
      devices.insert(std::string("LPT") + digit);
    }
    return devices;
  }();
  if (kDevices.count(stem))
    return "is the reserved device name " + stem + ", which Windows opens as a device, not a file";
  return "";
}

bool listFolder(const std::string& dir, std::vector<std::string>& files,
                std::vector<std::string>& folders, std::string& error) {
  files.clear();
  folders.clear();
  std::error_code code;
  fs::recursive_directory_iterator it(dir, code), end;
  for (; !code && it != end; it.increment(code)) {
    const std::string name = it->path().lexically_relative(dir).generic_string();
    if (it->is_directory(code) && !it->is_symlink(code)) folders.push_back(name);
    else if (it->is_regular_file(code)) files.push_back(name);
  }
  if (code) {
    error = dir + ": " + code.message();
    return false;
  }
  std::sort(files.begin(), files.end());
  std::sort(folders.begin(), folders.end());
  return true;
}

bool checkLooseNames(const std::string& folder, const std::vector<NamedContent>& entries,
                     const std::vector<std::string>& newFiles,
                     const std::vector<std::string>& newFolders, std::string& error) {
  auto fail = [&](const std::string& name, const std::string& why) {
    error = folder + "/" + shown(name) + ": " + why;
    return false;
  };
  // Every name the installer writes must be one Windows can hold.
  for (const NamedContent& entry : entries) {
    if (entry.second.empty()) continue;
    for (const std::string& part : componentsOf(entry.first)) {
      const std::string problem = windowsNameProblem(part);
      if (!problem.empty())
        return fail(entry.first, (part == entry.first ? "the name " : "\"" + shown(part) + "\" ") +
                                     problem);
    }
  }
  // One name for Windows, two files here: one file's content would be lost.
  std::map<std::u16string, std::string> seen;
  for (const std::vector<std::string>* names : {&newFolders, &newFiles}) {
    for (const std::string& name : *names) {
      auto known = seen.emplace(foldedName(name), name);
      if (!known.second && known.first->second != name)
        return fail(name, "the same name as " + folder + "/" + shown(known.first->second) +
                              " on a Windows volume (which does not tell case apart), so one "
                              "would overwrite the other");
    }
  }
  std::set<std::u16string> newFolded;
  for (const std::string& name : newFiles) newFolded.insert(foldedName(name));
  for (const NamedContent& entry : entries) {
    if (!entry.second.empty() || !newFolded.count(foldedName(entry.first))) continue;
    const std::u16string folded = foldedName(entry.first);
    std::string other;
    for (const std::string& name : newFiles)
      if (foldedName(name) == folded) other = name;
    return fail(entry.first, "deleted by this release, but NEW has " + folder + "/" +
                                 shown(other) + ", the same file on a Windows volume: the "
                                 "installer would write the new file and then delete it");
  }
  // The installer's own names: what it writes into bin, and the name + "temp" it writes each
  // file under before it takes the file's place.
  std::set<std::u16string> ownFiles;
  if (folder == "bin")
    for (const char* own : kInstallerBinFiles) ownFiles.insert(foldedName(own));
  for (const NamedContent& entry : entries) {
    if (ownFiles.count(foldedName(entry.first)))
      return fail(entry.first, "the installer writes a file of this name into bin itself");
  }
  const std::set<std::u16string> working = installerWorkingNames();
  for (const std::string& name : newFiles) {
    const std::u16string folded = foldedName(name);
    if (working.count(foldedName(name.substr(name.rfind('/') + 1))))
      return fail(name, "a name the installer gives its own working files");
    if (!endsWith(folded, kTempSuffix)) continue;
    const std::u16string stem = folded.substr(0, folded.size() - kTempSuffix.size());
    if (newFolded.count(stem) || ownFiles.count(stem))
      return fail(name, "the installer writes " + shown(name.substr(0, name.size() - 4)) +
                            " under this name (its name + \"temp\") before it takes its place");
  }
  return true;
}

bool checkInstallerGround(const std::string& oldDir, const std::string& newDir,
                          std::string& error) {
  std::error_code code;
  for (const GroundFile& file : kGroundFiles) {
    const fs::path before = fs::path(oldDir) / file.name, after = fs::path(newDir) / file.name;
    if (!fs::is_regular_file(before, code) || fs::file_size(before, code) == 0) continue;
    if (!fs::is_regular_file(after, code)) {
      error = after.string() + ": missing, so this release would delete it on every player's "
                               "machine; " + file.why;
      return false;
    }
    if (fs::file_size(after, code) == 0) {
      error = after.string() + ": empty, and an empty entry deletes its file, so this release "
                               "would delete it on every player's machine; " + file.why;
      return false;
    }
  }
  const std::set<std::u16string> working = installerWorkingNames();
  for (const std::string& dir : {oldDir, newDir}) {
    for (const auto& item : fs::directory_iterator(dir, code)) {
      const std::string name = item.path().filename().string();
      if (!working.count(foldedName(name))) continue;
      error = item.path().string() + ": a working file of the installer (left by an interrupted "
                                     "run?); the installer would take it for its own, so remove "
                                     "it from the installation";
      return false;
    }
  }
  return true;
}

}  // namespace release

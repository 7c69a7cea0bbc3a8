// The subcommand table and the dispatch from a command line to its handler.
#include <filesystem>
#include <ostream>
#include <system_error>

#include "tools/kxtool/commands.h"
#include "tools/release/demo_release.h"

namespace kxtool {
namespace {

const CommandSpec* findCommand(const std::string& name) {
  for (const CommandSpec& command : commandTable())
    if (name == command.name) return &command;
  return nullptr;
}

std::string overview() {
  std::string text =
      "usage: kxtool COMMAND [ARGS...]\n\n"
      "Release tools for the game's packed archives (.kx), check table and data sections.\n\n"
      "commands:\n";
  for (const CommandSpec& command : commandTable()) {
    std::string name = command.name;
    name.resize(16, ' ');
    text += "  " + name + command.summary + "\n";
  }
  text += "\n\"kxtool COMMAND --help\" describes one command.\n";
  return text;
}

int usage(ToolIo& io, const std::string& command, const std::string& problem) {
  io.err << "kxtool" << (command.empty() ? "" : " " + command) << ": " << problem
         << " (see kxtool" << (command.empty() ? "" : " " + command) << " --help)\n";
  return kExitUsage;
}

}  // namespace

int demoCommand(const Invocation& call, ToolIo& io) {
  std::string error;
  // The release is made from what the folder holds: anything already there would join it.
  std::error_code code;
  const std::string dir = userPath(io, call.args[0]);
  if (std::filesystem::exists(dir, code) && !std::filesystem::is_empty(dir, code))
    return failure(io, call, call.args[0] + ": not empty; the demo release goes into a new or "
                                            "empty folder");
  if (!release::makeDemoRelease(dir, error))
    return failure(io, call, error);
  return kExitOk;
}

const std::vector<CommandSpec>& commandTable() {
  static const std::vector<CommandSpec> table = {
      {"list", "ARCHIVE [--json]", "list the entries of an archive",
       "One line per entry in directory order: method (stored, deflate, or delete for a patch's\n"
       "delete marker), stored size, original size, name; then a total line. --json prints the\n"
       "same as JSON (names as \\u escapes of their characters).\n",
       1, 1, {"--json"}, {}, false, listCommand},
      {"cat", "ARCHIVE PATH", "write an entry's content to standard output",
       "PATH is the entry's name as listed; failing that it is looked up as the installer does\n"
       "(either separator, a versioned name read as version 1).\n",
       2, 2, {}, {}, false, catCommand},
      {"extract", "ARCHIVE DIR", "write every entry as a file under DIR",
       "Names that would leave DIR (\"..\", drive letters, links out of DIR) refuse the whole\n"
       "archive before anything is written. The folder entries are listed in DIR/.kxfolders,\n"
       "from which create makes them again.\n",
       2, 2, {}, {}, false, extractCommand},
      {"create", "DIR -o ARCHIVE", "make an archive of a folder's files",
       "Names sorted, content deflated as the installer's in-memory editing does (raw deflate\n"
       "level 6, stored when it does not shrink, nested archives stored). The same folder always\n"
       "gives the same bytes. Folder entries for the folders DIR/.kxfolders lists (as extract\n"
       "writes it) and for every empty folder.\n",
       1, 1, {}, {"-o"}, true, createCommand},
      {"diff", "OLD NEW -o PATCH [--delta]", "make the patch that turns OLD into NEW",
       "Archives: every entry of NEW that OLD lacks or stores with other bytes (copied as stored),\n"
       "and a delete marker for every entry of OLD that NEW lacks; with --delta each entry both\n"
       "hold travels as a delta of its contents where smaller (as kxtool release --delta).\n"
       "Folders (bin, cache): every new or changed file, and an empty entry (delete) for every\n"
       "file NEW lacks.\n",
       2, 2, {"--delta"}, {"-o"}, true, diffCommand},
      {"apply", "PACK PATCH [-o OUT]", "merge a patch into a pack as the installer does",
       "The installer's merge and rewrite. Without -o PACK is replaced (flushed, then put in\n"
       "place in one step); a result that does not read back whole is never put in place.\n",
       2, 2, {}, {"-o"}, false, applyCommand},
      {"fingerprint", "[--crc|--size|--sizecrc] FILE...", "print the installer's fingerprints",
       "Without a kind, the installer's choice by file name: size plus sampled CRC for the four\n"
       "large packs, whole-file CRC for everything else.\n",
       1, kUnlimited, {"--crc", "--size", "--sizecrc"}, {}, false, fingerprintCommand},
      {"checktable", "INSTALL_DIR VERSION [-o FILE]", "make the check-table block of an installation",
       "The block <moxVERSION> with the six packs and bin\\mox.exe in the table's layout and the\n"
       "fingerprint kinds the installer compares. An existing FILE is replaced only with --force.\n",
       2, 2, {"--force"}, {"-o"}, false, checktableCommand},
      {"verify", "INSTALL_DIR TABLE FROM TO [--allow-old]",
       "tell old, new, damaged or missing for each file",
       "Each pack and the game executable against the TABLE blocks of versions FROM and TO, by\n"
       "the installer's rules. Exit code 1 unless every file is at TO; with --allow-old files at\n"
       "FROM pass too (an installation the installer can still update).\n",
       4, 4, {"--allow-old"}, {}, false, verifyCommand},
      {"section dump", "FILE|ARCHIVE:PATH [--tag NAME]", "print a data section as XML text",
       "Any form: XML text, packed or binary. NAME is the root's name (default root).\n",
       1, 1, {}, {"--tag"}, false, sectionDumpCommand},
      {"section pack", "XMLFILE -o FILE", "write XML text in the packed section form", "",
       1, 1, {}, {"-o", "--tag"}, true, sectionPackCommand},
      {"release",
       "OLD NEW -o PAYLOAD [--previous-table FILE] [--from V] [--to V] [--json FILE]\n"
       "        [--changes FILE] [--delta]",
       "make and check the ten payload files of an installer",
       "OLD and NEW are whole installations; their versions are read as the installer reads\n"
       "them (scripts_config.xml in CN_packed.kx, then vemo_packed.kx); --from and --to only\n"
       "check them. Writes the six pack patches, binTemp.kx, cacheTemp.kx and MD5.txt (the new\n"
       "block, the old block, then the previous table's other blocks unchanged) into PAYLOAD, a\n"
       "new or empty folder. Every patch is rehearsed with the installer's merge against OLD's\n"
       "pack and must give NEW's pack byte for byte. Refused, with nothing written, when NEW is\n"
       "not newer than OLD, a pack's configuration does not read NEW's version, OLD does not\n"
       "match the previous table, an entry is 100 MiB or more, a patch cannot be made, a bin or\n"
       "cache name is one a Windows volume cannot hold (or holds as another file's), or the\n"
       "release deletes or empties bin/RakNet.dll or bin/mox.exe. --json and --changes write\n"
       "every replaced, added and deleted entry and loose file, with sizes, as JSON and as text.\n"
       "--delta: each replaced pack entry travels as a delta of its contents (xdelta3, which\n"
       "must be installed) when that is smaller and its deflate settings can be found; loose\n"
       "files and entries above 64 MiB go whole. The reports give per pack the entries sent as\n"
       "deltas and whole and the bytes saved.\n",
       2, 2, {"--delta"}, {"-o", "--previous-table", "--from", "--to", "--json", "--changes"}, true,
       releaseCommand},
      {"demo", "DIR", "write the deterministic demo release",
       "DIR/2.650 (a complete installation), DIR/2.651 (what the installer must make of it) and\n"
       "DIR/payload (the patch archives and the check table the build embeds).\n",
       1, 1, {}, {}, false, demoCommand},
  };
  return table;
}

int run(const std::vector<std::string>& words, ToolIo& io) {
  if (words.empty()) return usage(io, "", "no command");
  if (words[0] == "--help" || words[0] == "-h" || words[0] == "help") {
    io.out << overview();
    return kExitOk;
  }
  std::string name = words[0];
  size_t skip = 1;
  if (name == "section") {
    if (words.size() < 2 || words[1] == "--help" || words[1] == "-h") {
      if (words.size() < 2) return usage(io, name, "missing dump or pack");
      io.out << helpText(*findCommand("section dump")) << "\n" << helpText(*findCommand("section pack"));
      return kExitOk;
    }
    name += " " + words[1];
    skip = 2;
  }
  const CommandSpec* command = findCommand(name);
  if (!command) return usage(io, "", "unknown command " + name);
  Invocation call;
  std::string problem;
  if (!parseInvocation(*command, std::vector<std::string>(words.begin() + skip, words.end()), call,
                       problem))
    return usage(io, command->name, problem);
  if (call.help) {
    io.out << helpText(*command);
    return kExitOk;
  }
  const std::string out = call.value("-o");
  if (!out.empty()) {
    const std::filesystem::path folder = std::filesystem::path(userPath(io, out)).parent_path();
    std::error_code code;
    if (!folder.empty() && !std::filesystem::is_directory(folder, code))
      return failure(io, call, out + ": the folder " + folder.string() + " does not exist");
  }
  return command->handler(call, io);
}

}  // namespace kxtool

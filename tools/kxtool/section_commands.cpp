// Data sections: dump any form as XML text, pack XML text into the packed form.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <ostream>

#include "platform/platform.h"
#include "sections/bin_section.h"
#include "sections/packed_writer.h"
#include "sections/section_factory.h"
#include "sections/xml_writer.h"
#include "tools/kxtool/archive_access.h"
#include "tools/kxtool/commands.h"
#include "tools/kxtool/section_types.h"

namespace kxtool {
namespace {

namespace fs = std::filesystem;

constexpr const char* kDefaultTag = "root";

bool isFile(const std::string& path) {
  std::error_code error;
  return fs::is_regular_file(path, error);
}

// The bytes a section argument names: a file, or "ARCHIVE:PATH" for an entry of an archive
// (split at the last colon whose left side is a file, so Windows drive letters still work).
bool readSource(const ToolIo& io, const std::string& source, std::string& bytes,
                std::string& error) {
  const std::string direct = userPath(io, source);
  if (isFile(direct)) {
    if (!readWholeFile(direct, bytes)) {
      error = source + ": cannot be read";
      return false;
    }
    if (bytes.size() > static_cast<size_t>(INT32_MAX)) {
      error = source + ": too large for a data section (2 GiB or more)";
      return false;
    }
    return true;
  }
  for (size_t colon = source.rfind(':'); colon != std::string::npos && colon > 0;
       colon = source.rfind(':', colon - 1)) {
    const std::string archivePath = userPath(io, source.substr(0, colon));
    if (!isFile(archivePath)) continue;
    RefPtr<KXFileSystem> archive = openArchiveChecked(archivePath, error);
    if (!archive) return false;
    BlockRef content = archive->readFile(source.substr(colon + 1));
    if (!content) {
      error = source.substr(0, colon) + ": no readable entry " + source.substr(colon + 1);
      return false;
    }
    bytes = content->asString();
    return true;
  }
  error = source + ": no such file";
  return false;
}

bool looksLikeXml(const std::string& bytes) {
  const size_t first = bytes.find_first_not_of(" \t\r\n");
  return first != std::string::npos && bytes[first] == '<';
}

// The section tree of `bytes`. XML text must parse: a text that looks like XML is never taken
// for one of the binary forms.
SectionRef sectionOf(const std::string& tag, const std::string& bytes) {
  if (bytes.empty()) return nullptr;
  return sectionFromBlock(tag, BinaryBlock::fromString(bytes, kDataSectionLabel), true);
}

std::string tagOf(const Invocation& call) {
  const std::string tag = call.value("--tag");
  return tag.empty() ? kDefaultTag : tag;
}

}  // namespace

int sectionDumpCommand(const Invocation& call, ToolIo& io) {
  std::string bytes, error;
  if (!readSource(io, call.args[0], bytes, error)) return failure(io, call, error);
  SectionRef section = sectionOf(tagOf(call), bytes);
  if (!section && looksLikeXml(bytes))
    return failure(io, call, call.args[0] + ": XML text does not parse");
  // The factory takes any other bytes for a binary section's value; only a container with
  // children is a section worth printing.
  if (!section || (dynamic_cast<BinSection*>(section.get()) && section->childCount() == 0))
    return failure(io, call, call.args[0] + ": not a data section (XML text, packed file or "
                                            "binary container)");
  // Blanks at the ends of a value survive the packed form; written plainly, a pack of the
  // dump would lose them.
  const std::string text = writeXmlText(*section, true);
  if (text.empty())
    return failure(io, call, call.args[0] + ": the tree is deeper than " +
                                 std::to_string(kMaxSectionDepth) + " levels");
  io.out << markPackedTypes(*section, text);
  return kExitOk;
}

int sectionPackCommand(const Invocation& call, ToolIo& io) {
  std::string bytes, error;
  if (!readSource(io, call.args[0], bytes, error)) return failure(io, call, error);
  if (!looksLikeXml(bytes)) return failure(io, call, call.args[0] + ": not XML text");
  SectionRef section = sectionOf(tagOf(call), bytes);
  if (!section) return failure(io, call, call.args[0] + ": XML text does not parse");
  PackedNode tree;
  std::string packed;
  if (!packedNodeFromSection(section, tree) || !writePackedFile(tree, packed))
    return failure(io, call, call.args[0] + ": the tree breaks a limit of the packed form");
  if (!applyPackedTypes(bytes, tree, error)) return failure(io, call, call.args[0] + ": " + error);
  if (!writePackedFile(tree, packed))
    return failure(io, call, call.args[0] + ": the tree breaks a limit of the packed form");
  const std::string out = call.value("-o");
  if (!writeFileReplacing(userPath(io, out), packed))
    return failure(io, call, out + ": cannot write");
  return kExitOk;
}

}  // namespace kxtool

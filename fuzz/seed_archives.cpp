#include "fuzz/seed_archives.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>

#include "integrity/game_packs.h"
#include "sections/bin_section.h"
#include "sections/packed_writer.h"
#include "sections/section_factory.h"
#include "sections/xml_writer.h"

namespace fs = std::filesystem;

namespace fuzz_seeds {

namespace {

std::string noise(size_t length, uint32_t seed) {
  std::string bytes(length, '\0');
  for (char& byte : bytes) {
    seed = seed * 1103515245u + 12345u;
    byte = static_cast<char>(seed >> 23);
  }
  return bytes;
}

bool save(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

bool writeArchiveSeed(const fs::path& path, const std::vector<release::NamedContent>& entries) {
  fs::create_directories(path.parent_path());
  return release::writeArchive(path.string(), entries);
}

PackedNode packedTree() {
  PackedNode root;
  root.add("version", PackedValue::text("2.651"));
  root.add("build", PackedValue::integer(-40000));
  root.add("small", PackedValue::integer(7));
  root.add("scale", PackedValue::real(0.25f));
  root.add("enabled", PackedValue::boolean(true));
  root.add("disabled", PackedValue::boolean(false));
  root.add("raw", PackedValue::blob(std::string("\x00\x01\xff", 3)));
  root.add("hidden", PackedValue::markerBlob("secret", true));
  PackedNode& place = root.add("spawn", PackedValue::text("town"));
  place.add("at", PackedValue::vector3({1, 2, 3}));
  place.add("facing", PackedValue::vector2({0.5f, -1}));
  place.add("colour", PackedValue::vector4({1, 0, 0, 1}));
  Matrix turn;
  for (int r = 0; r < 4; ++r) turn.m[r][r] = 1;
  turn.m[3][0] = 5;
  place.add("transform", PackedValue::matrix(turn));
  place.add("", PackedValue::text("unnamed"));
  return root;
}

const char* const kXmlSeed =
    "<root>\n"
    "\t<version>\t2.651\t</version>\n"
    "\t<count> 12 </count>\n"
    "\t<ratio>0.5</ratio>\n"
    "\t<flag>true</flag>\n"
    "\t<at>1 2 3</at>\n"
    "\t<colour>1 0 0 1</colour>\n"
    "\t<transform><row0>1 0 0</row0><row1>0 1 0</row1><row2>0 0 1</row2><row3>4 5 6</row3>"
    "</transform>\n"
    "\t<blob>AAEC/w==</blob>\n"
    "\t<name>&lt;&#65;&#x42;&amp;&quot;&apos;&gt;</name>\n"
    "\t<!-- comment -->\n"
    "\t<empty/>\n"
    "\t<list><item>a</item><item>b</item><item/></list>\n"
    "</root>\n";

std::vector<std::string> sectionSeeds() {
  std::vector<std::string> seeds;
  std::string packed;
  if (writePackedFile(packedTree(), packed)) seeds.push_back(packed);
  seeds.push_back(release::makeScriptsConfig("2.650"));
  seeds.push_back(kXmlSeed);
  // The same tree as the XML writer lays it out, and as the packed writer packs parsed text.
  SectionRef parsed = sectionFromBlock(
      "root", BinaryBlock::fromString(kXmlSeed, kDataSectionLabel), false);
  if (parsed) {
    seeds.push_back(writeXmlText(*parsed));
    seeds.push_back(packSectionTree(parsed));
  }
  // Binary containers: flat, nested (a container holding a packed file and a container).
  const std::string leaf = "leaf bytes";
  const std::string inner = packed;
  std::string nested;
  {
    std::vector<BinChild> children = {
        {"leaf", reinterpret_cast<const unsigned char*>(leaf.data()), leaf.size()},
        {"config", reinterpret_cast<const unsigned char*>(inner.data()), inner.size()}};
    std::string flat;
    if (encodeBinContainer(children, flat)) {
      seeds.push_back(flat);
      std::vector<BinChild> outer = {
          {"inner", reinterpret_cast<const unsigned char*>(flat.data()), flat.size()},
          {"", nullptr, 0}};
      if (encodeBinContainer(outer, nested)) seeds.push_back(nested);
    }
  }
  seeds.push_back(noise(64, 7));
  return seeds;
}

std::vector<release::NamedContent> variant(std::vector<release::NamedContent> entries) {
  entries[1].second += " changed";
  entries.erase(entries.begin() + 2);
  entries.push_back({"dir/added.txt", "added in the new version"});
  entries.push_back({"v 3", "third version"});
  return entries;
}

// The check table's layout: newer blocks with LF and a TAB, an older one with CR LF and
// spaces, then a block the lookup never asks for.
std::string tableSeed(const fs::path& scratch) {
  const fs::path install = scratch / "install";
  fs::create_directories(install / "bin");
  for (int i = 0; i < kGamePackCount; ++i) save(install / kGamePacks[i].name, noise(100 + i, i));
  save(install / "bin" / "mox.exe", noise(50, 99));
  std::string table = release::makeCheckTableBlock(install.string(), "2.651") + "\n" +
                      release::makeCheckTableBlock(install.string(), "2.650") + "\n";
  std::string older = release::makeCheckTableBlock(install.string(), "1.051");
  std::string crlf;
  for (char c : older) {
    if (c == '\n') crlf += '\r';
    if (c == '\t') {
      crlf += "    ";
      continue;
    }
    crlf += c;
  }
  table += crlf + "\n<PackCheck>\n\t<2.642-2.650Pack.exe>0123abcd</2.642-2.650Pack.exe>\n"
                  "</PackCheck>\n";
  return table;
}

std::string tableInput(const std::string& parent, const std::string& key,
                       const std::string& table) {
  return std::string(1, static_cast<char>(parent.size())) +
         std::string(1, static_cast<char>(key.size())) + parent + key + table;
}

}  // namespace

std::vector<release::NamedContent> packEntries() {
  std::string text;
  for (int i = 0; i < 40; ++i) text += "line " + std::to_string(i) + " of a compressible text\n";
  return {
      {"scripts_config.xml", release::makeScriptsConfig("2.650")},
      {"dir/text.txt", text},
      {"dir/sub/noise.bin", noise(300, 1)},
      {"dir/sub/nested.kx", "PK\x03\x04 not really an archive"},
      {"empty.txt", ""},
      {"v 1", "first version"},
      {"v 2", "second version"},
      {"name with space.txt", "spaced"},
  };
}

bool writeCorpus(const std::string& dir) {
  const fs::path root = fs::absolute(dir);
  const fs::path scratch = root / ".scratch";
  fs::create_directories(scratch);
  // The fingerprint functions log to the current folder: keep that out of the caller's.
  const fs::path previous = fs::current_path();
  fs::current_path(scratch);
  bool ok = true;

  // Reader: the installed pack, the empty archive, a folder-only archive, a nested archive.
  const std::vector<release::NamedContent> pack = packEntries();
  ok &= writeArchiveSeed(root / "archive_read" / "pack.kx", pack);
  ok &= writeArchiveSeed(root / "archive_read" / "empty.kx", {});
  ok &= writeArchiveSeed(root / "archive_read" / "stored.kx",
                         {{"a", noise(40, 3)}, {"b/c", noise(20, 4)}});

  // Merge: patches between the installed pack and changed versions of it, and the empty patch.
  const fs::path oldPack = scratch / "old.kx";
  const fs::path newPack = scratch / "new.kx";
  ok &= release::writeArchive(oldPack.string(), pack);
  ok &= release::writeArchive(newPack.string(), variant(pack));
  fs::create_directories(root / "archive_merge");
  ok &= release::makePatchArchive(oldPack.string(), newPack.string(),
                                  (root / "archive_merge" / "changes.kx").string());
  ok &= release::makePatchArchive(oldPack.string(), oldPack.string(),
                                  (root / "archive_merge" / "empty.kx").string());
  ok &= release::makePatchArchive(newPack.string(), oldPack.string(),
                                  (root / "archive_merge" / "reverse.kx").string());
  // A patch whose first local header announces far more bytes than its entry holds.
  {
    const fs::path lying = root / "archive_merge" / "lying_header.kx";
    ok &= writeArchiveSeed(lying, {{"dir/text.txt", "NEW"}, {"added", "bytes"}});
    std::fstream patch(lying, std::ios::in | std::ios::out | std::ios::binary);
    patch.seekp(6);  // the local header's compressed size
    patch.write("\x00\x00\x00\x04", 4);
    ok &= static_cast<bool>(patch);
  }

  // Sections: XML text, packed files and binary containers.
  int n = 0;
  for (const std::string& seed : sectionSeeds())
    ok &= !seed.empty() && save(root / "section" / ("seed" + std::to_string(n++)), seed);

  // Check table: found values, a missing version, a missing key, a CR LF block.
  const std::string table = tableSeed(scratch);
  const std::vector<std::pair<std::string, std::string>> lookups = {
      {"mox2.651", kGamePacks[kCNPack].tableKey},
      {"mox2.650", "Halvoreen\\bin\\mox.exe"},
      {"mox1.051", kGamePacks[kResPack].tableKey},
      {"mox2.65", kGamePacks[kCNPack].tableKey},
      {"mox2.650", "Halvoreen\\CN"}};
  n = 0;
  for (const auto& lookup : lookups)
    ok &= save(root / "check_table" / ("lookup" + std::to_string(n++)),
               tableInput(lookup.first, lookup.second, table));

  fs::current_path(previous);
  fs::remove_all(scratch);
  return ok;
}

}  // namespace fuzz_seeds

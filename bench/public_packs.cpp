// Packs made from real files, for the delta case (bench/delta_pairs.sh): a folder of a public
// release packed as a game's packer would, deflated by zlib at a given level, or the deflated
// bytes of a ZIP that another deflater wrote, carried into a pack as they are. The pack-step
// folder the installer's stage is timed in is then made around two such packs and a patch.
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "archive/kx_format.h"
#include "bench/bench_cases.h"
#include "bench/bench_data.h"

namespace bench {
namespace {

namespace fs = std::filesystem;

// A packer stores what is compressed already, and what deflating does not shrink.
const std::set<std::string> kCompressedExtensions = {".png", ".jpg", ".jpeg", ".gif", ".gz",
                                                     ".tgz", ".zip", ".woff", ".woff2", ".br",
                                                     ".mp3", ".ogg", ".webp"};
// Entries a pack may hold: the format's sizes are 32-bit.
constexpr uint64_t kMaxEntryBytes = 0x7FFFFFFF;

bool complain(const std::string& message) {
  std::fprintf(stderr, "kxbench: %s\n", message.c_str());
  return false;
}

bool readWhole(const fs::path& path, std::string& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

// Raw deflate (no zlib header), window bits 15, memory level 8, default strategy: what a pack
// holds for a deflated entry.
bool rawDeflate(const std::string& in, int level, std::string& out) {
  z_stream z{};
  if (deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) return false;
  out.resize(deflateBound(&z, static_cast<uLong>(in.size())));
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
  z.avail_in = static_cast<uInt>(in.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  const int result = deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return result == Z_STREAM_END;
}

Entry givenEntry(const std::string& name, uint16_t method, std::string stored, uint32_t size) {
  Entry e;
  e.name = name;
  e.given = true;
  e.method = method;
  e.stored = std::move(stored);
  e.uncompressedSize = size;
  return e;
}

uint32_t le32(const std::string& b, size_t at) {
  return static_cast<uint32_t>(static_cast<unsigned char>(b[at])) |
         static_cast<uint32_t>(static_cast<unsigned char>(b[at + 1])) << 8 |
         static_cast<uint32_t>(static_cast<unsigned char>(b[at + 2])) << 16 |
         static_cast<uint32_t>(static_cast<unsigned char>(b[at + 3])) << 24;
}

uint16_t le16(const std::string& b, size_t at) {
  return static_cast<uint16_t>(static_cast<unsigned char>(b[at]) |
                               static_cast<unsigned char>(b[at + 1]) << 8);
}

// The entries of a ZIP file (no ZIP64, no encryption, methods 0 and 8), their stored bytes as
// they are. Every offset and length is checked against the file before it is used.
bool zipEntries(const std::string& zip, std::vector<Entry>& entries) {
  std::string b;
  if (!readWhole(zip, b)) return complain("cannot read " + zip);
  constexpr size_t kEnd = 22, kCentral = 46, kLocal = 30;
  if (b.size() < kEnd) return complain(zip + ": too short for a ZIP file");
  size_t end = std::string::npos;
  const size_t lowest = b.size() > kEnd + 65535 ? b.size() - kEnd - 65535 : 0;
  for (size_t at = b.size() - kEnd + 1; at-- > lowest;)
    if (le32(b, at) == 0x06054B50) {
      end = at;
      break;
    }
  if (end == std::string::npos) return complain(zip + ": no end of central directory");
  const uint16_t count = le16(b, end + 10);
  size_t at = le32(b, end + 16);
  for (uint16_t i = 0; i < count; ++i) {
    if (at > b.size() || b.size() - at < kCentral || le32(b, at) != 0x02014B50)
      return complain(zip + ": central directory record " + std::to_string(i) + " malformed");
    const uint16_t flags = le16(b, at + 8), method = le16(b, at + 10);
    const uint32_t stored = le32(b, at + 20), size = le32(b, at + 24);
    const size_t nameLength = le16(b, at + 28), extra = le16(b, at + 30), comment = le16(b, at + 32);
    const size_t local = le32(b, at + 42);
    if (b.size() - at - kCentral < nameLength + extra + comment)
      return complain(zip + ": central directory record " + std::to_string(i) + " truncated");
    const std::string name = b.substr(at + kCentral, nameLength);
    at += kCentral + nameLength + extra + comment;
    if (!name.empty() && name.back() == '/') continue;
    if ((flags & 1) != 0 || (method != kMethodStored && method != kMethodDeflated) ||
        stored == 0xFFFFFFFF || size == 0xFFFFFFFF)
      return complain(zip + ": " + name + ": encrypted, ZIP64 or a method other than 0 and 8");
    if (local > b.size() || b.size() - local < kLocal || le32(b, local) != 0x04034B50)
      return complain(zip + ": " + name + ": local header malformed");
    const size_t data = local + kLocal + le16(b, local + 26) + le16(b, local + 28);
    if (data > b.size() || b.size() - data < stored)
      return complain(zip + ": " + name + ": data outside the file");
    entries.push_back(givenEntry(name, method, b.substr(data, stored), size));
  }
  return true;
}

// pack-tree: every file below `tree`, named by its path relative to it.
bool treeEntries(const std::string& tree, int level, std::vector<Entry>& entries) {
  std::error_code code;
  std::vector<fs::path> files;
  for (fs::recursive_directory_iterator it(tree, code), last; !code && it != last; it.increment(code))
    if (it->is_regular_file(code)) files.push_back(it->path());
  if (code) return complain("cannot list " + tree);
  std::string contents, deflated;
  for (const fs::path& file : files) {
    if (!readWhole(file, contents)) return complain("cannot read " + file.string());
    if (contents.size() > kMaxEntryBytes) return complain(file.string() + ": too large for a pack");
    const std::string name = file.lexically_relative(tree).generic_string();
    std::string extension = file.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    bool store = kCompressedExtensions.count(extension) > 0;
    if (!store) {
      if (!rawDeflate(contents, level, deflated)) return complain("deflate failed on " + name);
      store = deflated.size() >= contents.size();
    }
    const uint32_t size = static_cast<uint32_t>(contents.size());
    entries.push_back(store ? givenEntry(name, kMethodStored, contents, size)
                            : givenEntry(name, kMethodDeflated, deflated, size));
  }
  return true;
}

}  // namespace

bool packPublicRelease(const std::string& source, const std::string& how, const std::string& out) {
  std::vector<Entry> entries;
  if (how == "zip") {
    if (!zipEntries(source, entries)) return false;
  } else {
    const int level = how.size() == 1 && how[0] >= '1' && how[0] <= '9' ? how[0] - '0' : -1;
    if (level < 0) return complain("pack-public: HOW is a zlib level 1-9 or zip, not " + how);
    if (!treeEntries(source, level, entries)) return false;
  }
  if (entries.size() > kMaxEntries) return complain(source + ": more entries than a pack holds");
  return writeArchive(out, std::move(entries)) || complain("cannot write " + out);
}

}  // namespace bench

#include "app/payload.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "integrity/game_packs.h"
#include "platform/platform.h"

namespace {

struct PayloadFile {
  int id;
  const char* name;
};

// The payload files besides the archives. Must agree with KXPATCH_PAYLOAD_FILES in
// cmake/Payload.cmake, which takes the archives from kGamePacks and kLooseFolders as this file
// does.
constexpr PayloadFile kOtherPayloadFiles[] = {
    {kPayloadCheckTable, "MD5.txt"},
    {kPayloadResults, "Results.txt"},
};

Payload copyOf(const unsigned char* data, size_t size) {
  Payload payload;
  if (!data) return payload;
  payload.bytes.assign(size + 1, '\0');
  if (size > 0) std::memcpy(payload.bytes.data(), data, size);
  payload.size = size;
  return payload;
}

#ifdef KXPATCH_PAYLOAD_OVERRIDE
// The test hook described in payload.h. Returns false when the hook is not in use.
bool loadOverride(int id, Payload& payload) {
  const char* folder = std::getenv("KXPATCH_TEST_PAYLOAD_DIR");
  if (!folder || !*folder) return false;
  payload = Payload{};
  const char* name = payloadFileName(id);
  if (!*name) return true;
  const platform::OpenedFile file =
      platform::openFile(std::string(folder) + platform::kPathSeparatorText + name, "rb");
  if (!file) return true;
  std::string bytes;
  char buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, file.value().get())) > 0)
    bytes.append(buffer, n);
  payload = copyOf(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
  return true;
}
#endif

}  // namespace

const char* payloadFileName(int id) {
  for (const GamePack& pack : kGamePacks)
    if (pack.payloadId == id) return pack.patchName;
  for (const LooseFolder& folder : kLooseFolders)
    if (folder.payloadId == id) return folder.patchName;
  for (const PayloadFile& file : kOtherPayloadFiles)
    if (file.id == id) return file.name;
  return "";
}

Payload loadPayload(int id) {
#ifdef KXPATCH_PAYLOAD_OVERRIDE
  Payload overridden;
  if (loadOverride(id, overridden)) return overridden;
#endif
  platform::Resource resource = platform::findResource("KX", id);
  return copyOf(resource.data, resource.size);
}

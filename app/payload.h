// The installer's embedded payload: resources of type "KX" with numeric ids.
#pragma once

#include <cstddef>
#include <vector>

#include "platform/aligned_buffer.h"

// Resource ids of the payload besides the archives (whose ids are in kGamePacks and
// kLooseFolders). The check table is written to binDir as "MD5.txt". The results table
// (integrity/results_table.h) is read in memory only; a payload may lack it.
enum PayloadId : int {
  kPayloadCheckTable = 220,
  kPayloadResults = 231,
};

// A copy of one resource. `bytes` is one byte longer than the resource and zero-filled, so a
// text payload (the check table) is terminated; it is empty when the resource is absent. Its
// memory starts on a page boundary, as every buffer written to a file in bulk does.
struct Payload {
  std::vector<char, platform::PageAlignedAllocator<char>> bytes;
  size_t size = 0;
};

// Finds the "KX" resource `id` of the running executable and copies it.
//
// Test hook: when the build defines KXPATCH_PAYLOAD_OVERRIDE (POSIX builds do) and the
// environment variable KXPATCH_TEST_PAYLOAD_DIR names a folder, the payload is read from the
// file of that folder that the build would embed for `id` (the names of cmake/Payload.cmake);
// a missing file is an absent resource. Unset, the embedded payload is used as always.
[[nodiscard]] Payload loadPayload(int id);

// The file name the build embeds for `id` ("" for an unknown id).
[[nodiscard]] const char* payloadFileName(int id);

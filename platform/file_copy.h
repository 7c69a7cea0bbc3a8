// Copying a range of one open file to another inside the operating system where it can, so that
// rewriting a large archive does not pass every unchanged byte through this process's memory.
#pragma once

#include <cstdint>
#include <cstdio>

namespace platform {

// Appends `length` bytes of `from`, starting at its byte `offset`, to `to` at `to`'s current
// position, which must be its end. `to`'s stdio buffer is flushed first and its position is the
// end of the copied bytes afterwards; `from`'s position is unspecified afterwards. False when
// fewer than `length` bytes could be copied (the source ends early, the disk is full, a write
// fails); how many were then copied is unspecified.
[[nodiscard]] bool appendFileRange(FILE* from, int64_t offset, FILE* to, uint64_t length);

}  // namespace platform

// CRC-32 (ISO 3309 / ITU-T V.42, reflected polynomial 0xEDB88320) with exactly the results of
// zlib's crc32(): start from 0, chain pieces by passing the previous result back in.
//
// Every fingerprint and the archive writer's per-entry checksums go through crc32Update. On
// x86 it folds with carry-less multiplication (PCLMULQDQ, or VPCLMULQDQ on 256- or 512-bit
// registers where the processor and the operating system allow it), chosen once at run time;
// everywhere else, and for short inputs, it is zlib's crc32.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The CRC of `n` bytes at `data` continued from `crc` (0 for a fresh CRC). `data` may be null
// only when `n` is 0.
[[nodiscard]] uint32_t crc32Update(uint32_t crc, const void* data, size_t n);

// A CRC as 8 lower-case hexadecimal digits, left-padded with "0": its form in the check table,
// the results table and the damaged-pack checksums.
[[nodiscard]] std::string crcText(uint32_t crc);

// The CRC of two blocks one after the other, from the CRC of each (`crc2` started from 0) and
// the second's length (below 2 GiB).
[[nodiscard]] uint32_t crc32Combine(uint32_t crc1, uint32_t crc2, int64_t length2);

// The implementations crc32Update can choose between, fastest last: zlib's table-driven code,
// then folding with carry-less multiplication on 128-, 256- and 512-bit registers.
enum class Crc32Kernel { Zlib, Pclmul, Vpclmul256, Vpclmul };

// True when `kernel` can run on this processor (Zlib always can).
[[nodiscard]] bool crc32KernelAvailable(Crc32Kernel kernel);
// The kernel crc32Update uses on this machine.
[[nodiscard]] Crc32Kernel crc32ActiveKernel();
// crc32Update through one given kernel, for tests and benchmarks; falls back to zlib when the
// kernel is not available here.
[[nodiscard]] uint32_t crc32UpdateWith(Crc32Kernel kernel, uint32_t crc, const void* data,
                                       size_t n);

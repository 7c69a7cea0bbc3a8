#include "integrity/crc32.h"

#include <zlib.h>

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#define KX_CRC32_X86 1
#include <immintrin.h>
#endif

namespace {

// zlib takes the length as an unsigned int; very large blocks go in pieces.
uint32_t zlibCrc(uint32_t crc, const unsigned char* p, size_t n) {
  constexpr size_t kMaxPiece = size_t{1} << 30;
  while (n > 0) {
    size_t piece = n < kMaxPiece ? n : kMaxPiece;
    crc = static_cast<uint32_t>(::crc32(crc, p, static_cast<uInt>(piece)));
    p += piece;
    n -= piece;
  }
  return crc;
}

#ifdef KX_CRC32_X86

// Folding with carry-less multiplication. The stream is kept as 128-bit lanes whose CRC
// contribution is moved forward by multiplying each 64-bit half with x^(D+32) and x^(D-32)
// modulo the polynomial (bit-reflected, shifted left by one), D being the distance moved in
// bits; the last 128 bits are reduced to 64, then to 32 by Barrett reduction. The constants
// below are those powers for D = 2048, 1024, 512 and 128, then the 64-bit step and the Barrett
// pair (the polynomial and its reciprocal).
constexpr uint64_t kFold2048Low = 0x11542778a, kFold2048High = 0x1322d1430;
constexpr uint64_t kFold1024Low = 0x1e88ef372, kFold1024High = 0x14a7fe880;
constexpr uint64_t kFold512Low = 0x154442bd4, kFold512High = 0x1c6e41596;
constexpr uint64_t kFold128Low = 0x1751997d0, kFold128High = 0x0ccaa009e;
constexpr uint64_t kFold64 = 0x163cd6124;
constexpr uint64_t kBarrettPoly = 0x1db710641, kBarrettMu = 0x1f7011641;

// Shortest block worth the set-up of the folding kernels.
constexpr size_t kMinFoldBytes = 64;
// Shortest block for which the 256- and 512-bit kernels pay for their wider set-up.
constexpr size_t kMinWideBytes = 512;

#define KX_TARGET_PCLMUL __attribute__((target("pclmul,sse4.1")))
#define KX_TARGET_VPCLMUL256 __attribute__((target("avx2,vpclmulqdq,pclmul,sse4.1")))
#define KX_TARGET_VPCLMUL __attribute__((target("avx512f,vpclmulqdq,pclmul,sse4.1")))

// 64 bytes of stream not yet reduced, earliest lane first.
struct Lanes {
  __m128i x[4];
};

KX_TARGET_PCLMUL inline __m128i pair(uint64_t low, uint64_t high) {
  return _mm_set_epi64x(static_cast<long long>(high), static_cast<long long>(low));
}

KX_TARGET_PCLMUL inline __m128i load128(const unsigned char* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// `acc` moved forward by the distance of `k`, added to `next`.
KX_TARGET_PCLMUL inline __m128i fold128(__m128i acc, __m128i k, __m128i next) {
  __m128i low = _mm_clmulepi64_si128(acc, k, 0x00);
  __m128i high = _mm_clmulepi64_si128(acc, k, 0x11);
  return _mm_xor_si128(_mm_xor_si128(low, high), next);
}

// Folds the remaining `n` bytes (a multiple of 16) into `lanes` and reduces to the CRC, in
// the inverted form the folding works in.
KX_TARGET_PCLMUL uint32_t finishLanes(Lanes& lanes, const unsigned char* p, size_t n) {
  // Locals, not the struct: the loads through `p` could alias it and keep it in memory.
  __m128i x0 = lanes.x[0], x1 = lanes.x[1], x2 = lanes.x[2], x3 = lanes.x[3];
  __m128i k = pair(kFold512Low, kFold512High);
  for (; n >= 64; p += 64, n -= 64) {
    x0 = fold128(x0, k, load128(p));
    x1 = fold128(x1, k, load128(p + 16));
    x2 = fold128(x2, k, load128(p + 32));
    x3 = fold128(x3, k, load128(p + 48));
  }
  k = pair(kFold128Low, kFold128High);
  __m128i x = fold128(x0, k, x1);
  x = fold128(x, k, x2);
  x = fold128(x, k, x3);
  for (; n >= 16; p += 16, n -= 16) x = fold128(x, k, load128(p));

  // 128 bits to 64.
  const __m128i low32 = _mm_setr_epi32(~0, 0, ~0, 0);
  __m128i t = _mm_clmulepi64_si128(x, k, 0x10);
  x = _mm_xor_si128(_mm_srli_si128(x, 8), t);
  t = _mm_srli_si128(x, 4);
  x = _mm_and_si128(x, low32);
  x = _mm_clmulepi64_si128(x, pair(kFold64, 0), 0x00);
  x = _mm_xor_si128(x, t);

  // Barrett reduction to 32 bits.
  const __m128i barrett = pair(kBarrettPoly, kBarrettMu);
  t = _mm_and_si128(x, low32);
  t = _mm_clmulepi64_si128(t, barrett, 0x10);
  t = _mm_and_si128(t, low32);
  t = _mm_clmulepi64_si128(t, barrett, 0x00);
  x = _mm_xor_si128(x, t);
  return static_cast<uint32_t>(_mm_extract_epi32(x, 1));
}

// `n` is at least 64 and a multiple of 16; `crcInverted` is the running CRC complemented.
KX_TARGET_PCLMUL uint32_t foldPclmul(uint32_t crcInverted, const unsigned char* p, size_t n) {
  Lanes lanes;
  for (int i = 0; i < 4; ++i) lanes.x[i] = load128(p + 16 * i);
  lanes.x[0] = _mm_xor_si128(lanes.x[0], _mm_cvtsi32_si128(static_cast<int>(crcInverted)));
  return finishLanes(lanes, p + 64, n - 64);
}

#ifndef _WIN32
// The 512-bit kernel folds four registers of four lanes each, 256 bytes per step, then hands
// its last 64 bytes of state to the 128-bit tail. Windows x64 does not keep the stack aligned
// for spilled 256- and 512-bit registers in GCC's code, so the shipped builds stay with 128
// bits.
#define KX_CRC32_WIDE 1

// The 256-bit kernel, for processors with VPCLMULQDQ but without 512-bit registers: four
// registers of two lanes each, 128 bytes per step, folded onto each other at the end into the
// 64 bytes of state the 128-bit tail takes. It runs at about twice the 128-bit kernel's speed,
// which is what keeps a whole-file fingerprint near the speed of reading the file.
KX_TARGET_VPCLMUL256 inline __m256i wide256(uint64_t low, uint64_t high) {
  auto l = static_cast<long long>(low), h = static_cast<long long>(high);
  return _mm256_set_epi64x(h, l, h, l);
}

KX_TARGET_VPCLMUL256 inline __m256i load256(const unsigned char* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

KX_TARGET_VPCLMUL256 inline __m256i fold256(__m256i acc, __m256i k, __m256i next) {
  __m256i low = _mm256_clmulepi64_epi128(acc, k, 0x00);
  __m256i high = _mm256_clmulepi64_epi128(acc, k, 0x11);
  return _mm256_xor_si256(_mm256_xor_si256(low, high), next);
}

KX_TARGET_VPCLMUL256 uint32_t foldVpclmul256(uint32_t crcInverted, const unsigned char* p,
                                             size_t n) {
  if (n < kMinWideBytes) return foldPclmul(crcInverted, p, n);
  const __m256i first = _mm256_set_epi32(0, 0, 0, 0, 0, 0, 0, static_cast<int>(crcInverted));
  __m256i z0 = _mm256_xor_si256(load256(p), first), z1 = load256(p + 32);
  __m256i z2 = load256(p + 64), z3 = load256(p + 96);
  p += 128;
  n -= 128;
  __m256i k = wide256(kFold1024Low, kFold1024High);
  for (; n >= 128; p += 128, n -= 128) {
    z0 = fold256(z0, k, load256(p));
    z1 = fold256(z1, k, load256(p + 32));
    z2 = fold256(z2, k, load256(p + 64));
    z3 = fold256(z3, k, load256(p + 96));
  }
  // The first two registers moved forward 64 bytes onto the last two: four lanes in order.
  k = wide256(kFold512Low, kFold512High);
  alignas(32) unsigned char state[64];
  _mm256_store_si256(reinterpret_cast<__m256i*>(state), fold256(z0, k, z2));
  _mm256_store_si256(reinterpret_cast<__m256i*>(state + 32), fold256(z1, k, z3));
  Lanes lanes;
  for (int i = 0; i < 4; ++i) lanes.x[i] = load128(state + 16 * i);
  return finishLanes(lanes, p, n);
}

KX_TARGET_VPCLMUL inline __m512i wide(uint64_t low, uint64_t high) {
  auto l = static_cast<long long>(low), h = static_cast<long long>(high);
  return _mm512_set_epi64(h, l, h, l, h, l, h, l);
}

KX_TARGET_VPCLMUL inline __m512i fold512(__m512i acc, __m512i k, __m512i next) {
  __m512i low = _mm512_clmulepi64_epi128(acc, k, 0x00);
  __m512i high = _mm512_clmulepi64_epi128(acc, k, 0x11);
  return _mm512_ternarylogic_epi64(low, high, next, 0x96);  // low ^ high ^ next
}

KX_TARGET_VPCLMUL uint32_t foldVpclmul(uint32_t crcInverted, const unsigned char* p,
                                       size_t n) {
  if (n < kMinWideBytes) return foldPclmul(crcInverted, p, n);
  __m512i z[4];
  for (int i = 0; i < 4; ++i) z[i] = _mm512_loadu_si512(p + 64 * i);
  __m128i first = _mm_cvtsi32_si128(static_cast<int>(crcInverted));
  z[0] = _mm512_xor_si512(z[0], _mm512_inserti32x4(_mm512_setzero_si512(), first, 0));
  p += 256;
  n -= 256;
  __m512i k = wide(kFold2048Low, kFold2048High);
  __m512i z0 = z[0], z1 = z[1], z2 = z[2], z3 = z[3];
  for (; n >= 256; p += 256, n -= 256) {
    z0 = fold512(z0, k, _mm512_loadu_si512(p));
    z1 = fold512(z1, k, _mm512_loadu_si512(p + 64));
    z2 = fold512(z2, k, _mm512_loadu_si512(p + 128));
    z3 = fold512(z3, k, _mm512_loadu_si512(p + 192));
  }
  k = wide(kFold512Low, kFold512High);
  __m512i all = fold512(z0, k, z1);
  all = fold512(all, k, z2);
  all = fold512(all, k, z3);
  // Through memory: GCC's lane-extraction intrinsics trip its own uninitialised-value warning.
  alignas(64) unsigned char state[64];
  _mm512_store_si512(state, all);
  Lanes lanes;
  for (int i = 0; i < 4; ++i) lanes.x[i] = load128(state + 16 * i);
  return finishLanes(lanes, p, n);
}
#endif  // !_WIN32

bool detect(Crc32Kernel kernel) {
  __builtin_cpu_init();
  bool pclmul = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
  switch (kernel) {
    case Crc32Kernel::Zlib:
      return true;
    case Crc32Kernel::Pclmul:
      return pclmul;
    case Crc32Kernel::Vpclmul256:
#ifdef KX_CRC32_WIDE
      return pclmul && __builtin_cpu_supports("avx2") && __builtin_cpu_supports("vpclmulqdq");
#else
      return false;
#endif
    case Crc32Kernel::Vpclmul:
#ifdef KX_CRC32_WIDE
      return pclmul && __builtin_cpu_supports("avx512f") &&
             __builtin_cpu_supports("vpclmulqdq");
#else
      return false;
#endif
  }
  return false;
}

#endif  // KX_CRC32_X86

}  // namespace

bool crc32KernelAvailable(Crc32Kernel kernel) {
#ifdef KX_CRC32_X86
  static const bool pclmul = detect(Crc32Kernel::Pclmul);
  static const bool wide256 = detect(Crc32Kernel::Vpclmul256);
  static const bool wide = detect(Crc32Kernel::Vpclmul);
  switch (kernel) {
    case Crc32Kernel::Zlib:
      return true;
    case Crc32Kernel::Pclmul:
      return pclmul;
    case Crc32Kernel::Vpclmul256:
      return wide256;
    case Crc32Kernel::Vpclmul:
      return wide;
  }
  return false;
#else
  return kernel == Crc32Kernel::Zlib;
#endif
}

Crc32Kernel crc32ActiveKernel() {
  static const Crc32Kernel active = [] {
    const Crc32Kernel fastestFirst[] = {Crc32Kernel::Vpclmul, Crc32Kernel::Vpclmul256,
                                        Crc32Kernel::Pclmul};
    for (Crc32Kernel kernel : fastestFirst)
      if (crc32KernelAvailable(kernel)) return kernel;
    return Crc32Kernel::Zlib;
  }();
  return active;
}

uint32_t crc32UpdateWith(Crc32Kernel kernel, uint32_t crc, const void* data, size_t n) {
  const auto* p = static_cast<const unsigned char*>(data);
#ifdef KX_CRC32_X86
  if (kernel != Crc32Kernel::Zlib && n >= kMinFoldBytes && crc32KernelAvailable(kernel)) {
    size_t body = n & ~size_t{15};
    uint32_t inverted = ~crc;
#ifdef KX_CRC32_WIDE
    switch (kernel) {
      case Crc32Kernel::Vpclmul: inverted = foldVpclmul(inverted, p, body); break;
      case Crc32Kernel::Vpclmul256: inverted = foldVpclmul256(inverted, p, body); break;
      default: inverted = foldPclmul(inverted, p, body); break;
    }
#else
    inverted = foldPclmul(inverted, p, body);
#endif
    return zlibCrc(~inverted, p + body, n - body);
  }
#else
  (void)kernel;
#endif
  return zlibCrc(crc, p, n);
}

uint32_t crc32Update(uint32_t crc, const void* data, size_t n) {
  return crc32UpdateWith(crc32ActiveKernel(), crc, data, n);
}

uint32_t crc32Combine(uint32_t crc1, uint32_t crc2, int64_t length2) {
  return static_cast<uint32_t>(::crc32_combine(crc1, crc2, static_cast<z_off_t>(length2)));
}

std::string crcText(uint32_t crc) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text(8, '0');
  for (size_t i = 8; i-- > 0; crc >>= 4) text[i] = kDigits[crc & 15];
  return text;
}

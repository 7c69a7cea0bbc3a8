#include "delta/raw_inflate.h"

#include <zlib.h>

namespace delta {

platform::Result<std::vector<unsigned char>, InflateFailure> inflateExactly(const unsigned char* in,
                                                                            size_t inSize,
                                                                            size_t expectedSize) {
  using platform::fail;
  // zlib counts in unsigned int; nothing a delta declares comes near it.
  if (inSize > 0xFFFFFFFEu || expectedSize > 0xFFFFFFFEu) return fail(InflateFailure::WrongSize);
  z_stream z{};
  if (inflateInit2(&z, -MAX_WBITS) != Z_OK) return fail(InflateFailure::ZlibFailed);
  // One spare byte tells a stream that goes on past the expected size from one that ends.
  std::vector<unsigned char> out(expectedSize + 1);
  static unsigned char nothing = 0;
  z.next_in = inSize ? const_cast<Bytef*>(in) : &nothing;
  z.avail_in = static_cast<uInt>(inSize);
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  const int rc = inflate(&z, Z_FINISH);
  const size_t produced = out.size() - z.avail_out;
  const uInt left = z.avail_in;
  inflateEnd(&z);
  if (rc == Z_DATA_ERROR || rc == Z_NEED_DICT || rc == Z_MEM_ERROR || rc == Z_STREAM_ERROR)
    return fail(InflateFailure::Corrupt);
  if (produced != expectedSize) return fail(InflateFailure::WrongSize);
  if (rc != Z_STREAM_END) return fail(InflateFailure::Corrupt);  // truncated
  if (left != 0) return fail(InflateFailure::Trailing);
  out.resize(expectedSize);
  return out;
}

}  // namespace delta

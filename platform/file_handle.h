// An owned stdio stream: closed when its owner goes, on every path out of a function.
#pragma once

#include <cstdio>
#include <memory>

namespace platform {

struct FileCloser {
  void operator()(FILE* file) const { std::fclose(file); }
};

// get() lends the stream; release() hands it back to a caller whose fclose result counts (a
// stream that was written: a failed close can mean lost bytes, which the destructor ignores).
using UniqueFile = std::unique_ptr<FILE, FileCloser>;

}  // namespace platform

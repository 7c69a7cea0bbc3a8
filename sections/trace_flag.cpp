#include "sections/trace_flag.h"

#include <utility>

bool traceFlag = false;

namespace {
std::function<void(const std::string&)>& traceSink() {
  static std::function<void(const std::string&)> sink;
  return sink;
}
}  // namespace

void debugTrace(const std::string& text) {
  if (traceSink()) traceSink()(text);
}

void setTraceSink(std::function<void(const std::string&)> sink) { traceSink() = std::move(sink); }

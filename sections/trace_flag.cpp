#include "sections/trace_flag.h"

#include <utility>

namespace {

bool traceFlag = false;

std::function<void(const std::string&)>& traceSink() {
  static std::function<void(const std::string&)> sink;
  return sink;
}
}  // namespace

void debugTrace(const std::string& text) {
  if (traceSink()) traceSink()(text);
}

void setTraceSink(std::function<void(const std::string&)> sink) { traceSink() = std::move(sink); }

bool traceFlagRaised() { return traceFlag; }

TraceFlagScope::TraceFlagScope() { traceFlag = true; }
TraceFlagScope::~TraceFlagScope() { traceFlag = false; }

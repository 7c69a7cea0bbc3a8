// The process-wide diagnostic flag of the section library. A section path trace raises it while
// it replays a lookup; the archive reader then composes more detailed diagnostics. Trace texts
// have no destination in the product: they go to a sink that drops them unless a test installs
// one to watch them.
#pragma once

#include <functional>
#include <string>

// Whether traceFlag is raised. The flag itself stays inside the library: only a trace raises
// it, for as long as its lookup runs.
[[nodiscard]] bool traceFlagRaised();

// Raises traceFlag for the object's lifetime.
class TraceFlagScope {
 public:
  TraceFlagScope();
  ~TraceFlagScope();
  TraceFlagScope(const TraceFlagScope&) = delete;
  TraceFlagScope& operator=(const TraceFlagScope&) = delete;
};

// Hands one composed trace text to the current sink (none by default: the text is dropped).
void debugTrace(const std::string& text);
// Installs a sink for trace texts; an empty function restores the silent default.
void setTraceSink(std::function<void(const std::string&)> sink);

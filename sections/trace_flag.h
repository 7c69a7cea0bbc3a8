// The process-wide diagnostic flag of the section library. A section path trace raises it while
// it replays a lookup; the archive reader then composes more detailed diagnostics. Trace texts
// have no destination in the product: they go to a sink that drops them unless a test installs
// one to watch them.
#pragma once

#include <functional>
#include <string>

extern bool traceFlag;

// Hands one composed trace text to the current sink (none by default: the text is dropped).
void debugTrace(const std::string& text);
// Installs a sink for trace texts; an empty function restores the silent default.
void setTraceSink(std::function<void(const std::string&)> sink);

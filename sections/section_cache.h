// Opening sections by resource path below one process-wide root section, with a per-thread
// cache in front. The installer installs no root and caches nothing; saveTo and convertSection
// with a path reach this and then find nothing.
#pragma once

#include <string>

#include "sections/data_section.h"

// Installs (or with none removes) the process-wide root section.
void setResourceRoot(const SectionRef& root);
SectionRef resourceRoot();

// The section at path below the root, from this thread's cache when it holds it. Failures of a
// few well-known paths are traced once each.
SectionRef openResource(const std::string& path);

// Splits path at its last '/': the parent is openResource(head) and the leaf the rest; without a
// '/' the parent is the root and the leaf the whole path. Stores both and answers true only
// when a parent was found.
bool resolveParent(const std::string& path, SectionRef& parent, std::string& leafName);

// True once a failed lookup has been traced.
bool sectionTraceDone();

// Enters a section into this thread's cache under path (none of the installer's code does).
void cacheSection(const std::string& path, DataSection* section);
// Forgets a section in this thread's cache; called by every section as it is destroyed.
void removeFromSectionCache(const DataSection* section);

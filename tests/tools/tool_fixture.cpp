#include "tests/tools/tool_fixture.h"

#include <gtest/gtest.h>

#include "tools/release/demo_release.h"

namespace tool_test {

const std::string& demoRelease() {
  static testing_support::TempDir dir;
  static const std::string made = [] {
    // The fingerprints log into the current directory.
    testing_support::ScopedCwd cwd(dir.path());
    std::string error;
    EXPECT_TRUE(release::makeDemoRelease(dir / "demo", error)) << error;
    return dir / "demo";
  }();
  return made;
}

}  // namespace tool_test

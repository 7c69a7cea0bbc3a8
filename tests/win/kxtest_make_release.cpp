// Writes a test release (old installation, expected new state, payload) to the folder given,
// for the end-to-end runs that compare the Windows build with this one. Besides vemo and CN the
// first pack changes too: it is large, so a file-size limit can fail its rewrite alone.
#include <cstdio>

#include "tools/release/release.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: kxtest_make_release DIR\n");
    return 2;
  }
  release::TestReleaseOptions options;
  options.changedPacks = {0, 4, 5};
  if (!release::makeTestRelease(argv[1], options)) {
    std::fprintf(stderr, "kxtest_make_release: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}

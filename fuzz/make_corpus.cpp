// Writes the fuzz targets' seed corpus: make_fuzz_corpus OUTPUT_DIR.
#include <cstdio>

#include "fuzz/seed_archives.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_fuzz_corpus OUTPUT_DIR\n");
    return 2;
  }
  if (!fuzz_seeds::writeCorpus(argv[1])) {
    std::fprintf(stderr, "make_fuzz_corpus: could not write every seed\n");
    return 1;
  }
  return 0;
}

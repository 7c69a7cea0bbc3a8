# Shared by the benchmark scripts, sourced after they read their options ($build, $scratch_root,
# $keep): the release build they time and the scratch folder they work in.

# Builds the named targets in $build, configuring it as the release preset when it is new.
bench_build() {
  if [ ! -f "$build/build.ninja" ]; then
    cmake --preset linux-release -B "$build" >/dev/null
  fi
  cmake --build "$build" --target "$@" -j2 >/dev/null
}

# Makes the scratch folder $scratch under $scratch_root (removed at exit unless $keep) and enters
# it, so that logs written to the working directory land there.
bench_scratch() {
  mkdir -p "$scratch_root"
  scratch=$(mktemp -d "$scratch_root/$1.XXXXXX")
  trap bench_cleanup EXIT
  cd "$scratch"
}

bench_cleanup() {
  cd /
  if [ "$keep" = 0 ]; then rm -rf "$scratch"; fi
}

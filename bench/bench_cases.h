// The commands of kxbench other than `time`: data-set makers and the timed operations.
#pragma once

#include <string>
#include <vector>

namespace bench {

// Returned by runCase for an unknown command or wrong arguments.
inline constexpr int kUsage = 2;

// Runs one command with its arguments; 0 on success, 1 when the work failed or gave a wrong
// result, kUsage on a usage error.
int runCase(const std::string& command, const std::vector<std::string>& args);

// The scaled demo release (scaled_release.cpp): the demo release, its six packs at both
// versions grown by `growMiB` MiB of stored entries each. Writes `dir`/2.650, `dir`/2.651 and
// `dir`/payload. False with a message on stderr on a failure.
[[nodiscard]] bool makeScaledRelease(const std::string& dir, int growMiB);

// A pack of real files (public_packs.cpp): `how` is a zlib level "1" - "9", with which every
// file below the folder `source` is deflated (stored when already compressed or not shrunk), or
// "zip", which carries the entries of the ZIP file `source` with their stored bytes as another
// deflater wrote them. False with a message on stderr on a failure.
[[nodiscard]] bool packPublicRelease(const std::string& source, const std::string& how,
                                     const std::string& out);

}  // namespace bench

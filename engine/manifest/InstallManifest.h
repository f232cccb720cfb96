#pragma once
// The installation manifest lists every installed file of the program folder
// with its size and SHA-256. Format (text, one line each):
//   reelpage-manifest 1
//   <sha256 hex> <size> <path relative to the program folder>
#include <string>

namespace manifest {

constexpr const char* kFileName = "reelpage.dat";

// Writes the manifest of every regular file under folder (except the manifest).
// Returns 0 or an errno value.
int Write(const std::string& folder);

// 0 when every listed file exists with its size and hash; otherwise a non-zero
// code: 2 manifest missing, 13 manifest damaged, 3 a file missing, 4 a file altered.
// With a cache file, files whose identity (device, inode, size, modification
// and change times) is the one they had when their hash last matched are not
// hashed again; the cache is brought up to date after a check that passed.
int Verify(const std::string& folder, std::string* firstProblem = nullptr,
           const std::string& cachePath = {});

// SHA-256 of a file as lower-case hex; empty when it cannot be read.
std::string HashFile(const std::string& path);

} // namespace manifest

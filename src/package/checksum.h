// The volume checksum that the packer stores and the extraction engine
// verifies, and the naming of the volume files of a spanned package.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

// A stored or computed checksum of this value means "not checked".
constexpr uint32_t kUncheckedVolume = 1234;
// Volumes above this size are never checksummed.
constexpr int64_t kChecksumSizeLimit = 52428800;

// Sum of the volume's dwords (see checksum.cpp); 1234 for volumes above the
// size limit; 0 when the file cannot be opened.
uint32_t PackageChecksum(const std::string& path, uint32_t trailerLength);
// The same over an open file (read from any position; left open).
uint32_t PackageChecksum(std::FILE* f, uint32_t trailerLength);
// The same for a whole volume held in memory (trailer included) whose
// PackageEnd low half is 0, as an agent copy's is.
uint32_t PlainVolumeChecksum(const std::string& bytes, uint32_t trailerLength);
// True when the stored value matches the computed one or either is 1234.
bool ChecksumAccepted(uint32_t computed, uint32_t stored);

// Volume k (k >= 2) of a package whose first volume is firstVolume:
// "Setup.exe" and "Setup.exe.001" both continue with "Setup.exe.002".
std::string VolumePath(const std::string& firstVolume, int k);

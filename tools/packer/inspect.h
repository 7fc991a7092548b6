// "packer inspect" and the check behind it, which publish and verify reuse to
// make sure an update package is whole before it goes online.
#pragma once
#include <string>
#include <vector>

// Prints the report (text or JSON); 0 when every check passed, else 1.
int InspectPackage(const std::string& path, bool json);
// The problems inspect would report for a package, as its PROBLEM lines
// ("volume 2: volume file missing"); empty for a whole package.
std::vector<std::string> PackageProblems(const std::string& path);

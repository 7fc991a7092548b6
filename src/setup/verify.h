// A reading pass over a whole package that writes nothing: every volume's
// checksum and every item, so a package is known whole before anything is
// shut down for it (also above the checksum's size limit).
#pragma once
#include <string>

#include "setup/unpack.h"

// True when every volume is present and passes its checksum, every item
// reads and inflates whole and the package names an engine. Missing volumes
// are not asked for. Reads through env; writes and boxes never reach it.
bool VerifyPackageWhole(UnpackEnv& env, const std::string& packagePath, std::string& why);

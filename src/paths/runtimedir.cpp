#include "paths/runtimedir.h"

#include "paths/utils.h"

namespace {

// This program defines none of the eight folders; the table keeps the room.
const char* const kDefinitions[8] = {"", "", "", "", "", "", "", ""};

// "*" marks a folder that has not been resolved yet.
std::string g_cache[8] = {"*", "*", "*", "*", "*", "*", "*", "*"};

std::string Resolve(const std::string& definition) {
  // An empty definition names no folder; nothing else is ever defined here.
  if (definition.empty()) return "";
  return NormalizeDirSlash(definition, false);
}

}  // namespace

std::string RunTimeDir(int n, bool trailingSlash) {
  if (n < 1 || n > 8) return "";
  std::string& cached = g_cache[n - 1];
  if (cached == "*") cached = Resolve(kDefinitions[n - 1]);
  if (cached.empty()) return "";
  return NormalizeDirSlash(cached, trailingSlash);
}

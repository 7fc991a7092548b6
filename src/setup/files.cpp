#include "setup/files.h"

#include <algorithm>
#include <cctype>

#include "paths/utils.h"

int64_t WriteChunkSize(int64_t total) {
  int64_t tenth = total / 10;
  if (tenth <= 1024) return std::min<int64_t>(1024, total);
  return std::min<int64_t>(tenth, 1048576);
}

std::string FileBaseName(const std::string& path, bool all) {
  std::string name = ExtractFileName(path);
  do {
    size_t dot = name.rfind('.');
    if (dot == std::string::npos) break;
    name.erase(dot);
  } while (all);
  return name;
}

std::string FreeSpaceRoot(std::string& path, bool driveRoot) {
  std::replace(path.begin(), path.end(), '/', '\\');
  if (path.empty()) return path;
  if (driveRoot || path.size() < 3) {
    path = std::string(1, char(std::toupper(static_cast<unsigned char>(path[0])))) + ":\\";
  } else {
    size_t cut = path.find('\\', 3);
    if (cut != std::string::npos) path.erase(cut);
  }
  return path;
}

std::string SelfDeleteBatchName(uint32_t processId, uint32_t salt) {
  // Written out by hand: printf would bring its whole formatter into the stub.
  std::string hex(8, '0');
  for (int i = 7; i >= 0; --i, salt >>= 4) hex[size_t(i)] = "0123456789ABCDEF"[salt & 15];
  return "_DEL_ME_" + std::to_string(processId) + "_" + hex + ".BAT";
}

std::string SelfDeleteBatchText(const std::string& exe, const std::string& dir, const std::string& batchPath,
                                bool removeFolder, const std::string& quote) {
  const std::string& q = quote;
  std::string t = ":START\r\n";
  t += "DEL " + q + exe + q + "\r\n";
  t += "IF exist " + q + exe + q + " GOTO START\r\n";
  if (removeFolder) t += "RD " + q + dir + q + "\r\n";
  t += "DEL " + q + batchPath + q + "\r\n";
  return t;
}

std::string FormatWriteFailure(const std::string& lastErrorText, int64_t dataSize, int64_t fileSize,
                               double bytesFree) {
  // Free space is a floating-point figure; the box shows it as a whole number.
  int64_t freeWhole = bytesFree < 0 ? -1 : int64_t(bytesFree);
  return lastErrorText + "<P>" + "  Data Size: <T>" + std::to_string(dataSize) + " Bytes<P>" +
         "  File Size:  <T>" + std::to_string(fileSize) + " Bytes<P>" + "  Bytes Free: <T>" +
         std::to_string(freeWhole) + " Bytes";
}

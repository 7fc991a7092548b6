#include "setup/heldpackage_win.h"

#include "paths/widepath_win.h"
#include "process/ownfile_win.h"
#include "setup/files_win.h"

bool HeldPackage::Open(const std::string& path) {
  Close();
  path_ = path;
  if (path.empty()) return false;
  handle_ = CreateFileW(WidePath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
  return IsOpen();
}

bool HeldPackage::HoldDuplicate(HANDLE file, const std::string& path) {
  Close();
  path_ = path;
  if (file == INVALID_HANDLE_VALUE || !file) return false;
  HANDLE dup = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), file, GetCurrentProcess(), &dup, 0, FALSE, DUPLICATE_SAME_ACCESS))
    return false;
  handle_ = dup;
  return true;
}

void HeldPackage::Close() {
  if (IsOpen()) CloseHandle(handle_);
  handle_ = INVALID_HANDLE_VALUE;
}

int64_t HeldPackage::Size() const { return IsOpen() ? FileSizeOfHandle(handle_) : -1; }

std::FILE* HeldPackage::Stream() const { return IsOpen() ? StreamOverHandle(handle_) : nullptr; }

TGFileInfo HeldPackage::Info() const {
  std::FILE* f = Stream();
  TGFileInfo info(f);
  if (f) std::fclose(f);
  return info;
}

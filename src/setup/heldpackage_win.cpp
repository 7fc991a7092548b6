#include "setup/heldpackage_win.h"

#include <fcntl.h>
#include <io.h>

#include "paths/widepath_win.h"
#include "setup/files_win.h"

bool HeldPackage::Open(const std::string& path) {
  Close();
  path_ = path;
  if (path.empty()) return false;
  handle_ = CreateFileW(WidePath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
  return IsOpen();
}

void HeldPackage::Close() {
  if (IsOpen()) CloseHandle(handle_);
  handle_ = INVALID_HANDLE_VALUE;
}

int64_t HeldPackage::Size() const { return IsOpen() ? FileSizeOfHandle(handle_) : -1; }

std::FILE* HeldPackage::Stream() const {
  if (!IsOpen()) return nullptr;
  // A duplicate shares the file position; the readers seek before every read.
  HANDLE dup = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), handle_, GetCurrentProcess(), &dup, 0, FALSE, DUPLICATE_SAME_ACCESS))
    return nullptr;
  SeekFile(dup, 0, FILE_BEGIN);
  int fd = _open_osfhandle(reinterpret_cast<intptr_t>(dup), _O_RDONLY | _O_BINARY);
  if (fd < 0) {
    CloseHandle(dup);
    return nullptr;
  }
  std::FILE* f = _fdopen(fd, "rb");
  if (!f) _close(fd);
  return f;
}

TGFileInfo HeldPackage::Info() const {
  std::FILE* f = Stream();
  TGFileInfo info(f);
  if (f) std::fclose(f);
  return info;
}

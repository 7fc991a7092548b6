#include "process/ownfile_win.h"

#include <fcntl.h>
#include <io.h>

#include <algorithm>

#include "paths/utils.h"
#include "paths/utils_win.h"
#include "paths/widepath_win.h"
#include "process/ownfile.h"
#include "process/psapi_win.h"

namespace {
HANDLE g_ownFile = INVALID_HANDLE_VALUE;

using FinalPathFn = DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD);
using MappedNameFn = DWORD(WINAPI*)(HANDLE, LPVOID, LPWSTR, DWORD);

FARPROC Kernel32Function(const char* name) {
  HMODULE k32 = GetModuleHandleA("kernel32.dll");
  return k32 ? GetProcAddress(k32, name) : nullptr;
}

// Names are at most 32767 characters long.
constexpr DWORD kNameRoom = 32768;

// A name the system gave (n characters), upper-cased by the system's own
// rules (the file system ignores case beyond ASCII too), as UTF-8.
std::string UpperName(std::wstring& buf, DWORD n) {
  if (n == 0 || n >= kNameRoom - 1) return "";
  CharUpperBuffW(&buf[0], n);
  return PathFromWide(buf.data(), int(n));
}

std::string FinalName(HANDLE file, DWORD form) {
  static auto fn = reinterpret_cast<FinalPathFn>(Kernel32Function("GetFinalPathNameByHandleW"));
  std::wstring buf(kNameRoom, L'\0');
  return UpperName(buf, fn ? fn(file, &buf[0], kNameRoom, form) : 0);
}

std::string MappedName(HMODULE module) {
  static auto fn = reinterpret_cast<MappedNameFn>(Kernel32Function("K32GetMappedFileNameW"));
  std::wstring buf(kNameRoom, L'\0');
  HANDLE self = GetCurrentProcess();
  DWORD n = fn ? fn(self, module, &buf[0], kNameRoom) : PsGetMappedFileNameW(self, module, &buf[0], kNameRoom);
  return UpperName(buf, n);
}

bool ReadAt(HANDLE file, int64_t offset, void* buffer, DWORD count, DWORD& got) {
  LARGE_INTEGER at;
  at.QuadPart = offset;
  got = 0;
  return SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && ReadFile(file, buffer, count, &got, nullptr);
}

int64_t SizeOf(HANDLE file) {
  LARGE_INTEGER size;
  return GetFileSizeEx(file, &size) ? size.QuadPart : -1;
}
}  // namespace

OwnFileCheck OpenAsImageOf(const std::string& path, HMODULE module, HANDLE& file, std::string& why) {
  file = INVALID_HANDLE_VALUE;
  why.clear();
  HANDLE h = CreateFileW(WidePath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    why = "cannot be opened: " + path + " (" + LastErrorText() + ")";
    return OwnFileCheck::CannotOpen;
  }
  // Before Vista the names cannot be had; holding the file is all there is.
  if (!Kernel32Function("GetFinalPathNameByHandleW")) {
    file = h;
    return OwnFileCheck::Held;
  }
  std::string mapped = MappedName(module), device = FinalName(h, VOLUME_NAME_NT), dos = FinalName(h, VOLUME_NAME_DOS);
  if (!IsRunningImage(mapped, device, dos)) {
    CloseHandle(h);
    why = "is not the running program: " + path + " opened as " + (device.empty() ? dos : device) +
          ", the program was loaded from " + (mapped.empty() ? "(unknown)" : mapped);
    return OwnFileCheck::NotTheImage;
  }
  file = h;
  return OwnFileCheck::Held;
}

OwnFileCheck HoldOwnFile(std::string& why) {
  if (g_ownFile != INVALID_HANDLE_VALUE) return OwnFileCheck::Held;
  std::string path = OwnExePath();
  if (path.empty()) {
    why = "cannot be opened: its name is unknown";
    return OwnFileCheck::CannotOpen;
  }
  return OpenAsImageOf(path, GetModuleHandleW(nullptr), g_ownFile, why);
}

HANDLE OwnFileHandle() { return g_ownFile; }

std::FILE* StreamOverHandle(HANDLE file) {
  if (file == INVALID_HANDLE_VALUE || !file) return nullptr;
  HANDLE dup = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), file, GetCurrentProcess(), &dup, 0, FALSE, DUPLICATE_SAME_ACCESS))
    return nullptr;
  LARGE_INTEGER zero{};
  SetFilePointerEx(dup, zero, nullptr, FILE_BEGIN);
  int fd = _open_osfhandle(reinterpret_cast<intptr_t>(dup), _O_RDONLY | _O_BINARY);
  if (fd < 0) {
    CloseHandle(dup);
    return nullptr;
  }
  std::FILE* f = _fdopen(fd, "rb");
  if (!f) _close(fd);
  return f;
}

std::FILE* OwnFileStream() { return StreamOverHandle(g_ownFile); }

bool ReadWholeHandle(HANDLE file, std::string& bytes) {
  bytes.clear();
  int64_t size = SizeOf(file);
  if (size < 0 || uint64_t(size) > SIZE_MAX / 2) return false;
  bytes.resize(size_t(size));
  for (int64_t pos = 0; pos < size;) {
    DWORD got = 0;
    DWORD want = DWORD(std::min<int64_t>(size - pos, 1 << 20));
    if (!ReadAt(file, pos, &bytes[size_t(pos)], want, got) || got == 0) {
      bytes.clear();
      return false;
    }
    pos += got;
  }
  return true;
}

bool CopyHandleTo(HANDLE file, const std::string& path) {
  int64_t size = SizeOf(file);
  if (size < 0) return false;
  std::wstring to = WidePath(path);
  HANDLE out = CreateFileW(to.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE) return false;
  // A first volume on a CD can be hundreds of MB: copied in pieces.
  std::string buf(1 << 16, '\0');
  bool ok = true;
  for (int64_t pos = 0; ok && pos < size;) {
    DWORD got = 0, written = 0;
    ok = ReadAt(file, pos, &buf[0], DWORD(std::min<int64_t>(size - pos, int64_t(buf.size()))), got) && got > 0 &&
         WriteFile(out, buf.data(), got, &written, nullptr) && written == got;
    pos += got;
  }
  FILETIME written;
  if (ok && GetFileTime(file, nullptr, nullptr, &written)) SetFileTime(out, nullptr, nullptr, &written);
  CloseHandle(out);
  // A cut copy of a program must not be left for anyone to start.
  if (!ok) DeleteFileW(to.c_str());
  return ok;
}

uint32_t HandleDosTime(HANDLE file) {
  FILETIME utc, local;
  WORD date = 0, time = 0;
  if (!GetFileTime(file, nullptr, nullptr, &utc) || !FileTimeToLocalFileTime(&utc, &local) ||
      !FileTimeToDosDateTime(&local, &date, &time))
    return 0;
  return (uint32_t(date) << 16) | time;
}

#include "setup/files_win.h"

#include <winioctl.h>

#include <algorithm>

#include "paths/utils.h"
#include "paths/utils_win.h"
#include "paths/widepath_win.h"
#include "paths/zdebug.h"
#include "setup/deltree.h"

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE;

// Writes `size` bytes with as many calls as `chunk` asks for; stops when a
// call writes nothing. Returns the number of bytes written.
int64_t WriteAll(HANDLE h, const char* data, int64_t size, int64_t chunk) {
  int64_t done = 0;
  while (done < size) {
    DWORD part = DWORD(std::min<int64_t>(chunk, size - done));
    DWORD written = 0;
    if (!WriteFile(h, data + done, part, &written, nullptr) || written == 0) break;
    done += written;
  }
  return done;
}

bool IsDotEntry(const wchar_t* name) {
  return (name[0] == L'.' && name[1] == 0) || (name[0] == L'.' && name[1] == L'.' && name[2] == 0);
}

std::string DriveRoot(char letter) { return std::string(1, letter) + ":\\"; }

}  // namespace

int64_t SeekFile(HANDLE file, int64_t offset, DWORD origin) {
  LONG high = LONG(offset >> 32);
  SetLastError(NO_ERROR);
  DWORD low = SetFilePointer(file, LONG(uint32_t(offset)), &high, origin);
  if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) return -1;
  return (int64_t(high) << 32) | low;
}

int64_t FileSizeOfHandle(HANDLE file) {
  DWORD high = 0;
  SetLastError(NO_ERROR);
  DWORD low = GetFileSize(file, &high);
  if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return -1;
  return (int64_t(high) << 32) | low;
}

int64_t FileSizeByName(const std::string& path) {
  WIN32_FIND_DATAW fd;
  HANDLE f = FindFirstFileW(WidePath(path).c_str(), &fd);
  if (f == INVALID_HANDLE_VALUE) return 0;
  FindClose(f);
  return (int64_t(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow;
}

namespace {
// Exactly `count` bytes from the handle's position (count is bounded by the
// file's real size, so the buffer is too); false when fewer arrive.
bool ReadExactly(HANDLE h, int64_t count, std::string& out) {
  out.resize(size_t(count));
  int64_t got = 0;
  while (got < count) {
    DWORD part = DWORD(std::min<int64_t>(count - got, 1 << 20));
    DWORD n = 0;
    if (!ReadFile(h, &out[size_t(got)], part, &n, nullptr) || n == 0) break;
    got += n;
  }
  if (got == count) return true;
  out.clear();
  return false;
}
}  // namespace

std::string ReadFilePart(const std::string& path, int64_t maximum, int64_t offset) {
  if (!IsExistingFile(path)) return "";
  HANDLE h = CreateFileW(WidePath(path).c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) return "";
  std::string out;
  int64_t size = FileSizeOfHandle(h);
  int64_t count = size - offset;
  if (maximum != 0) count = std::min(count, maximum);
  if (size >= 0 && offset >= 0 && offset < size && count > 0 && SeekFile(h, offset, FILE_BEGIN) == offset)
    ReadExactly(h, count, out);
  CloseHandle(h);
  return out;
}

bool ReadFileUpTo(const std::string& path, int64_t limit, std::string& out) {
  out.clear();
  HANDLE h = CreateFileW(WidePath(path).c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  int64_t size = FileSizeOfHandle(h);
  bool ok = size >= 0 && size <= limit && ReadExactly(h, size, out);
  CloseHandle(h);
  return ok;
}

bool SetFileDosTime(HANDLE file, uint32_t dosTime) {
  FILETIME local, utc;
  if (!DosDateTimeToFileTime(WORD(dosTime >> 16), WORD(dosTime & 0xFFFF), &local)) return false;
  if (!LocalFileTimeToFileTime(&local, &utc)) return false;
  return SetFileTime(file, nullptr, nullptr, &utc) != 0;
}

uint32_t FileDosTime(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(WidePath(path).c_str(), GetFileExInfoStandard, &data)) return 0;
  FILETIME local;
  WORD date = 0, time = 0;
  if (!FileTimeToLocalFileTime(&data.ftLastWriteTime, &local) || !FileTimeToDosDateTime(&local, &date, &time))
    return 0;
  return (uint32_t(date) << 16) | time;
}

bool WriteFileText(const std::string& path, const std::string& content, uint32_t dosTime, bool append) {
  HANDLE h;
  if (append && IsExistingFile(path))
    h = CreateFileW(WidePath(path).c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                    nullptr);
  else
    h = CreateFileW(WidePath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  bool ok = !append || SeekFile(h, 0, FILE_END) >= 0;
  if (ok) {
    int64_t size = int64_t(content.size());
    int64_t chunk = size > kSingleWriteLimit ? WriteChunkSize(size) : size;
    ok = WriteAll(h, content.data(), size, std::max<int64_t>(chunk, 1)) == size;
  }
  if (ok && dosTime != 0) SetFileDosTime(h, dosTime);
  CloseHandle(h);
  return ok;
}

bool AppendFileText(const std::string& path, const std::string& content, uint32_t dosTime) {
  HANDLE h = CreateFileW(WidePath(path).c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = SeekFile(h, 0, FILE_END) >= 0 &&
            WriteFile(h, content.data(), DWORD(content.size()), &written, nullptr) && written == content.size();
  if (dosTime != 0) SetFileDosTime(h, dosTime);
  CloseHandle(h);
  return ok;
}

double FreeDiskSpace(const std::string& path) {
  using GetFreeEx = BOOL(WINAPI*)(LPCWSTR, PULARGE_INTEGER, PULARGE_INTEGER, PULARGE_INTEGER);
  // 255 = not probed yet, 0 = absent, 1 = present; the 95 family may lack the 64-bit call.
  static uint8_t s_hasFreeEx = 255;
  static GetFreeEx s_freeEx = nullptr;
  if (s_hasFreeEx == 255) {
    HMODULE k = LoadSystemLibrary("kernel32.dll");
    if (k) {
      s_freeEx = reinterpret_cast<GetFreeEx>(reinterpret_cast<void*>(GetProcAddress(k, "GetDiskFreeSpaceExW")));
      // kernel32 stays mapped for the life of every process, so the address outlives this release.
      FreeLibrary(k);
    }
    s_hasFreeEx = s_freeEx ? 1 : 0;
  }
  std::string query = path;
  if (s_hasFreeEx == 1) {
    ULARGE_INTEGER avail, total, freeAll;
    FreeSpaceRoot(query, false);
    if (s_freeEx(query.empty() ? nullptr : WidePath(query).c_str(), &avail, &total, &freeAll))
      return double(avail.QuadPart);
    query = path;
    FreeSpaceRoot(query, true);
    if (s_freeEx(query.empty() ? nullptr : WidePath(query).c_str(), &avail, &total, &freeAll))
      return double(avail.QuadPart);
    return -1;
  }
  FreeSpaceRoot(query, true);
  DWORD spc = 0, bps = 0, freeClusters = 0, clusters = 0;
  if (!GetDiskFreeSpaceW(query.empty() ? nullptr : WidePath(query).c_str(), &spc, &bps, &freeClusters, &clusters))
    return -1;
  return double(spc) * double(bps) * double(freeClusters);
}

bool IsExistingFile(const std::string& path) {
  DWORD a = GetFileAttributesW(WidePath(path).c_str());
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsExistingFolder(const std::string& path) {
  DWORD a = GetFileAttributesW(WidePath(path).c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool ForceDirectories(const std::string& folder) {
  std::string dir = NormalizeDirSlash(folder, false);
  if (dir.empty()) return false;
  if (IsExistingFolder(dir)) return true;
  if (dir.size() == 2 && dir[1] == ':') return IsExistingFolder(dir + "\\");
  std::string parent = ExtractFileDir(dir);
  if (!parent.empty() && parent != dir && !ForceDirectories(parent)) return false;
  return CreateDirectoryW(WidePath(dir).c_str(), nullptr) || IsExistingFolder(dir);
}

bool DeleteFiles(const std::string& mask, bool clearAttributes) {
  size_t slash = mask.find_last_of("\\/");
  std::string dir = slash == std::string::npos ? "" : mask.substr(0, slash + 1);
  WIN32_FIND_DATAW fd;
  HANDLE f = FindFirstFileW(WidePath(mask).c_str(), &fd);
  if (f == INVALID_HANDLE_VALUE) return false;
  bool found = false;
  do {
    if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    found = true;
    std::string p = dir + PathFromWide(fd.cFileName);
    if (clearAttributes) SetFileAttributesW(WidePath(p).c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(WidePath(p).c_str());
  } while (FindNextFileW(f, &fd));
  FindClose(f);
  return found;
}

namespace {
// The tree seam on Win32: a reparse point is reported by its own attributes,
// never through its target.
class WinTreeFs : public TreeFs {
 public:
  bool Stat(const std::string& path, TreeEntry& what) override {
    DWORD a = GetFileAttributesW(WidePath(path).c_str());
    if (a == INVALID_FILE_ATTRIBUTES) return false;
    what = Entry(a, "");
    return true;
  }
  std::vector<TreeEntry> List(const std::string& folder) override {
    std::vector<TreeEntry> out;
    WIN32_FIND_DATAW fd;
    HANDLE f = FindFirstFileW(WidePath(folder + "\\*.*").c_str(), &fd);
    if (f == INVALID_HANDLE_VALUE) return out;
    do {
      if (!IsDotEntry(fd.cFileName)) out.push_back(Entry(fd.dwFileAttributes, PathFromWide(fd.cFileName)));
    } while (FindNextFileW(f, &fd));
    FindClose(f);
    return out;
  }
  void ClearAttributes(const std::string& path) override {
    SetFileAttributesW(WidePath(path).c_str(), FILE_ATTRIBUTE_NORMAL);
  }
  bool RemoveFile(const std::string& path) override { return ::DeleteFileW(WidePath(path).c_str()) != 0; }
  bool RemoveFolder(const std::string& path) override { return ::RemoveDirectoryW(WidePath(path).c_str()) != 0; }

 private:
  static TreeEntry Entry(DWORD a, const std::string& name) {
    TreeEntry e;
    e.name = name;
    e.folder = (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
    e.hidden = (a & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) != 0;
    e.link = (a & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    return e;
  }
};
}  // namespace

bool DeleteTree(const std::string& folder, bool clearAttributes) {
  if (folder.empty()) return false;
  WinTreeFs fs;
  return DeleteTreeWith(fs, NormalizeDirSlash(folder, false), clearAttributes);
}

// Searches the visible sub-folders of dir, depth first in listing order,
// until `search` finds something. Links are not followed: a link back up the
// tree would never end.
template <typename Search>
std::string SearchSubfolders(const std::string& dir, Search search) {
  std::string result;
  WIN32_FIND_DATAW fd;
  HANDLE f = FindFirstFileW(WidePath(dir + "*.*").c_str(), &fd);
  if (f == INVALID_HANDLE_VALUE) return result;
  do {
    DWORD a = fd.dwFileAttributes;
    if ((a & FILE_ATTRIBUTE_DIRECTORY) && !(a & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_REPARSE_POINT)) &&
        !IsDotEntry(fd.cFileName))
      result = search(dir + PathFromWide(fd.cFileName));
    ProcessPendingMessages(0);
  } while (result.empty() && FindNextFileW(f, &fd));
  FindClose(f);
  return result;
}

std::string FindFileInTree(const std::string& folder, const std::string& name) {
  std::string dir = NormalizeDirSlash(folder, true);
  if (GetFileAttributesW(WidePath(dir + name).c_str()) != INVALID_FILE_ATTRIBUTES) return dir + name;
  return SearchSubfolders(dir, [&](const std::string& sub) { return FindFileInTree(sub, name); });
}

std::string FindFileOnDrives(const std::string& name, UINT driveType) {
  for (char c = 'C'; c <= 'Z'; ++c) {
    if (GetDriveTypeW(WidePath(DriveRoot(c)).c_str()) != driveType) continue;
    std::string r = FindFileInTree(DriveRoot(c), name);
    if (!r.empty()) return r;
  }
  return "";
}

std::string FindFolderInTree(const std::string& folder, const std::string& name) {
  DebugLine("FALSE " + folder);
  if (EndsWith("\\" + name, folder, true)) return folder;
  return SearchSubfolders(NormalizeDirSlash(folder, true),
                          [&](const std::string& sub) { return FindFolderInTree(sub, name); });
}

std::string FindFolderOnDrives(const std::string& folderOrPath, UINT driveType) {
  if (folderOrPath.size() >= 3 && folderOrPath.compare(1, 2, ":\\") == 0) {
    char letter = char(toupper(static_cast<unsigned char>(folderOrPath[0])));
    if (GetDriveTypeW(WidePath(DriveRoot(letter)).c_str()) == driveType && IsExistingFolder(folderOrPath))
      return folderOrPath;
    return "";
  }
  for (char c = 'C'; c <= 'Z'; ++c) {
    if (GetDriveTypeW(WidePath(DriveRoot(c)).c_str()) != driveType) continue;
    std::string r = FindFolderInTree(DriveRoot(c), folderOrPath);
    if (!r.empty()) return r;
  }
  return "";
}

namespace {
// A batch file of this process's own, made exclusively: a file of that name
// made by anyone else (an earlier instance, a planted link) is never reused.
HANDLE CreateOwnBatch(const std::string& dir, std::string& path) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    path = dir + SelfDeleteBatchName(GetCurrentProcessId(), GetTickCount() + DWORD(attempt) * 7919u);
    HANDLE h =
        CreateFileW(WidePath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) return h;
    DWORD e = GetLastError();
    if (e != ERROR_FILE_EXISTS && e != ERROR_ALREADY_EXISTS && e != ERROR_ACCESS_DENIED) break;
  }
  path.clear();
  return INVALID_HANDLE_VALUE;
}
}  // namespace

void SelfDeleteBatch(bool removeFolder, bool shortNames) {
  std::string temp = TempDir(true);
  if (temp.empty()) return;  // never a batch in whatever the current folder is
  std::string batch;
  HANDLE h = CreateOwnBatch(temp, batch);
  if (h == INVALID_HANDLE_VALUE) {
    DebugLinePid(" SelfDeleteBatch: no batch file could be made in " + temp);
    return;
  }
  std::string q = "\"";
  std::string exe = OwnExePathWin();
  std::string dir = NormalizeDirSlash(ExtractFileDir(exe), false);
  std::string runPath = batch;
  if (shortNames) {
    // The batch file exists now, so its short name can be asked for.
    std::string sb = ShortPathOf(batch), se = ShortPathOf(exe), sd = ShortPathOf(dir);
    // Without every short form the long, quoted names are the safe choice.
    if (!sb.empty() && !se.empty() && !sd.empty()) {
      q.clear();
      batch = sb;
      exe = se;
      dir = sd;
    }
  }
  // cmd reads a batch file in the OEM code page: a name it cannot hold there
  // is written in its short form, and without one the batch is not started.
  bool exact = true, all = true;
  for (std::string* p : {&exe, &dir, &batch}) {
    PathInCodePage(*p, CP_OEMCP, &exact);
    if (exact) continue;
    std::string s = ShortPathOf(*p);
    PathInCodePage(s, CP_OEMCP, &exact);
    if (s.empty() || !exact)
      all = false;
    else
      *p = s;
  }
  std::string text = PathInCodePage(SelfDeleteBatchText(exe, dir, batch, removeFolder, q), CP_OEMCP);
  DWORD written = 0;
  bool ok = WriteFile(h, text.data(), DWORD(text.size()), &written, nullptr) && written == text.size();
  CloseHandle(h);
  if (!ok || !all) {
    if (!all) DebugLinePid(" SelfDeleteBatch: a name has no form the command interpreter can read");
    DeleteFileW(WidePath(runPath).c_str());
    return;
  }
  // Leave the executable's folder so that it is not in use when the batch removes it.
  SetCurrentDirectoryW(WidePath(TempDir(false)).c_str());
  // Quoted: a temporary folder with a blank must not start another program.
  std::string command = "\"" + PathInCodePage(AnsiReadablePath(runPath), CP_ACP) + "\"";
  WinExec(command.c_str(), SW_HIDE);
}

bool EjectCdDrive(const std::string& path) {
  if (path.empty()) return false;
  char letter = char(toupper(static_cast<unsigned char>(path[0])));
  if (letter < 'A' || letter > 'Z' || GetDriveTypeW(WidePath(DriveRoot(letter)).c_str()) != DRIVE_CDROM) return false;
  std::string device = std::string("\\\\.\\") + letter + ":";
  HANDLE h = CreateFileW(WidePath(device).c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING, 0,
                         nullptr);
  DebugLine("EjectCD-2: " + device + " " + std::to_string(intptr_t(h)));
  if (h == INVALID_HANDLE_VALUE) {
    h = CreateFileW(WidePath(device).c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr);
    DebugLine("EjectCD-3: " + device + " " + std::to_string(intptr_t(h)));
  }
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD returned = 0;
  bool ok = DeviceIoControl(h, IOCTL_STORAGE_EJECT_MEDIA, nullptr, 0, nullptr, 0, &returned, nullptr) != 0;
  CloseHandle(h);
  return ok;
}

std::string DescribeWriteFailure(const std::string& path, int64_t dataSize) {
  std::string err = LastErrorText();  // first, before the size queries change the last error
  return FormatWriteFailure(err, dataSize, FileSizeByName(path), FreeDiskSpace(path));
}

#include "process/ownfile.h"

#include <cstring>

namespace {
struct Form {
  const char* prefix;       // in upper case
  const char* replacement;
  bool redirector;          // the parts that begin with ';' follow
};

// In this order, each at most once: a network prefix first, then the
// prefixes of the drive letters' folder, then the device of a redirector.
const Form kForms[] = {
    {"\\\\?\\UNC\\", "\\\\", false},    {"\\??\\UNC\\", "\\\\", false},
    {"\\\\.\\UNC\\", "\\\\", false},    {"\\GLOBAL??\\UNC\\", "\\\\", false},
    {"\\\\?\\", "", false},             {"\\??\\", "", false},
    {"\\\\.\\", "", false},             {"\\GLOBAL??\\", "", false},
    {"\\DOSDEVICES\\", "", false},      {"GLOBALROOT\\", "\\", false},
    {"\\DEVICE\\MUP\\", "\\\\", true},  {"\\DEVICE\\LANMANREDIRECTOR\\", "\\\\", true},
};
}  // namespace

std::string ImageNameForm(const std::string& name) {
  std::string s = name;
  for (char& c : s) {
    if (c == '/') c = '\\';
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
  }
  for (const Form& f : kForms) {
    size_t n = std::strlen(f.prefix);
    if (s.compare(0, n, f.prefix) != 0) continue;
    s.replace(0, n, f.replacement);
    // A redirector names itself and the logon session of a mapped drive in
    // parts that begin with ';'; they are not folders of the share.
    size_t at = std::strlen(f.replacement);
    while (f.redirector && at < s.size() && s[at] == ';') {
      size_t slash = s.find('\\', at);
      s.erase(at, slash == std::string::npos ? std::string::npos : slash + 1 - at);
    }
  }
  return s;
}

bool IsRunningImage(const std::string& mappedName, const std::string& openedDevicePath,
                    const std::string& openedDosPath) {
  if (mappedName.empty()) return false;
  std::string mapped = ImageNameForm(mappedName);
  return (!openedDevicePath.empty() && ImageNameForm(openedDevicePath) == mapped) ||
         (!openedDosPath.empty() && ImageNameForm(openedDosPath) == mapped);
}

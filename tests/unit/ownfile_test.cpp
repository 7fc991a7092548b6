// The rule that tells whether the own file opened by name is the file the
// program was loaded from, for the forms in which the system names them.
#include <gtest/gtest.h>

#include "process/ownfile.h"

namespace {

struct Case {
  const char* what;
  const char* mapped;  // the module's mapped file name
  const char* device;  // the open file's final path as a device path
  const char* dos;     // the open file's final path as a DOS path
  bool same;
};

TEST(OwnFile, MappedNameAgainstTheOpenedFile) {
  const Case cases[] = {
      {"Windows: the mapped name is a device path", "\\Device\\HarddiskVolume3\\Users\\me\\Downloads\\Setup.exe",
       "\\Device\\HarddiskVolume3\\Users\\me\\Downloads\\Setup.exe", "\\\\?\\C:\\Users\\me\\Downloads\\Setup.exe",
       true},
      {"Wine: the mapped name is an NT path to the drive", "\\??\\Z:\\work\\Setup.exe",
       "\\Device\\HarddiskVolume2\\work\\Setup.exe", "\\\\?\\Z:\\work\\Setup.exe", true},
      {"started as setup.EXE, the file is Setup.exe", "\\Device\\HarddiskVolume3\\Users\\me\\setup.EXE",
       "\\Device\\HarddiskVolume3\\USERS\\ME\\Setup.exe", "", true},
      {"drive letter in lower case", "\\??\\c:\\dl\\Setup.exe", "", "\\\\?\\C:\\dl\\Setup.exe", true},
      {"a plain DOS path and forward slashes", "C:/dl/Setup.exe", "", "\\\\?\\C:\\dl\\Setup.exe", true},
      {"the global names of the drive letters", "\\GLOBAL??\\C:\\dl\\Setup.exe", "", "\\\\?\\C:\\dl\\Setup.exe",
       true},
      {"a device path through GLOBALROOT", "\\\\?\\GLOBALROOT\\Device\\HarddiskVolume3\\dl\\Setup.exe",
       "\\Device\\HarddiskVolume3\\dl\\Setup.exe", "", true},
      {"a network share", "\\Device\\Mup\\server\\share\\Setup.exe", "", "\\\\?\\UNC\\server\\share\\Setup.exe",
       true},
      {"a mapped network drive names its redirector and session",
       "\\Device\\Mup\\;LanmanRedirector\\;Z:000000000001a2b3\\server\\share\\Setup.exe",
       "\\Device\\Mup\\server\\share\\Setup.exe", "\\\\?\\Z:\\Setup.exe", true},
      {"the older redirector device", "\\Device\\LanmanRedirector\\;Z:0000000000012345\\server\\share\\Setup.exe",
       "", "\\\\?\\UNC\\server\\share\\Setup.exe", true},
      {"a path in another script", "\\??\\C:\\\xE6\x97\xA5\xE6\x9C\xAC\\Setup.exe", "",
       "\\\\?\\C:\\\xE6\x97\xA5\xE6\x9C\xAC\\Setup.exe", true},

      // The program was renamed away and another file put under its name.
      {"the started file now has another name", "\\Device\\HarddiskVolume3\\dl\\Setup.old",
       "\\Device\\HarddiskVolume3\\dl\\Setup.exe", "\\\\?\\C:\\dl\\Setup.exe", false},
      {"the same path on another volume", "\\Device\\HarddiskVolume4\\dl\\Setup.exe",
       "\\Device\\HarddiskVolume3\\dl\\Setup.exe", "\\\\?\\C:\\dl\\Setup.exe", false},
      {"the same path on another drive", "\\??\\D:\\dl\\Setup.exe", "\\Device\\HarddiskVolume3\\dl\\Setup.exe",
       "\\\\?\\C:\\dl\\Setup.exe", false},
      {"another share of the same server", "\\Device\\Mup\\;Z:0000000000012345\\server\\other\\Setup.exe",
       "\\Device\\Mup\\server\\share\\Setup.exe", "\\\\?\\UNC\\server\\share\\Setup.exe", false},
      // Only a redirector's path has parts that are not folders.
      {"a folder named ;x on a local volume", "\\Device\\HarddiskVolume3\\;x\\Setup.exe",
       "\\Device\\HarddiskVolume3\\Setup.exe", "", false},
      {"a device path never equals a drive path", "\\Device\\HarddiskVolume3\\dl\\Setup.exe", "",
       "\\\\?\\C:\\dl\\Setup.exe", false},

      // A name the system did not give proves nothing.
      {"no mapped name", "", "\\Device\\HarddiskVolume3\\dl\\Setup.exe", "\\\\?\\C:\\dl\\Setup.exe", false},
      {"no name of the open file", "\\??\\C:\\dl\\Setup.exe", "", "", false},
      {"no name at all", "", "", "", false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsRunningImage(c.mapped, c.device, c.dos), c.same) << c.what;
}

}  // namespace

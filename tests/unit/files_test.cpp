// The portable computations of the file utilities.
#include <gtest/gtest.h>

#include "setup/files.h"

TEST(Files, WriteChunkSize) {
  struct Case {
    int64_t total, chunk;
  } cases[] = {{0, 0},           {500, 500},          {1024, 1024},        {10240, 1024},
               {10250, 1025},    {5000000, 500000},   {50000000, 1048576}, {10485760, 1048576},
               {10485770, 1048576}, {20000000000LL, 1048576}};
  for (const Case& c : cases) EXPECT_EQ(WriteChunkSize(c.total), c.chunk) << c.total;
}

TEST(Files, FileBaseName) {
  struct Case {
    const char* path;
    bool all;
    const char* base;
  } cases[] = {{"My.App.info", false, "My.App"},       {"My.App.info", true, "My"},
               {"C:\\Dir.x\\Setup.exe", false, "Setup"}, {"C:\\Dir.x\\Setup", true, "Setup"},
               {"/a/b.c/noext", false, "noext"},        {"", true, ""}};
  for (const Case& c : cases) EXPECT_EQ(FileBaseName(c.path, c.all), c.base) << c.path;
}

TEST(Files, FreeSpaceRoot) {
  struct Case {
    const char* path;
    bool driveRoot;
    const char* query;
  } cases[] = {{"C:\\Users\\Ann\\Temp\\SETUP_1", false, "C:\\Users"},
               {"C:\\Users\\Ann\\Temp\\SETUP_1", true, "C:\\"},
               {"\\\\server\\share\\dir", false, "\\\\server"},
               {"c:/users/ann", false, "c:\\users"},
               {"C:", false, "C:\\"},
               {"d", false, "D:\\"},
               {"C:\\", false, "C:\\"},
               {"C:\\Temp", false, "C:\\Temp"},
               {"", false, ""},
               {"", true, ""}};
  for (const Case& c : cases) {
    std::string p = c.path;
    EXPECT_EQ(FreeSpaceRoot(p, c.driveRoot), c.query) << c.path;
    EXPECT_EQ(p, c.query) << "updated in place: " << c.path;
  }
}

TEST(Files, SelfDeleteBatchText) {
  struct Case {
    bool removeFolder;
    const char* quote;
    const char* text;
  } cases[] = {
      // Short names: no quotes.
      {true, "",
       ":START\r\nDEL C:\\APP\\SETUP.EXE\r\nIF exist C:\\APP\\SETUP.EXE GOTO START\r\nRD C:\\APP\r\n"
       "DEL C:\\TEMP\\_DEL_ME_.BAT\r\n"},
      {false, "\"",
       ":START\r\nDEL \"C:\\APP\\SETUP.EXE\"\r\nIF exist \"C:\\APP\\SETUP.EXE\" GOTO START\r\n"
       "DEL \"C:\\TEMP\\_DEL_ME_.BAT\"\r\n"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(SelfDeleteBatchText("C:\\APP\\SETUP.EXE", "C:\\APP", "C:\\TEMP\\_DEL_ME_.BAT", c.removeFolder, c.quote),
              c.text);
}

TEST(Files, SelfDeleteBatchNamesDifferPerProcessAndAttempt) {
  EXPECT_EQ(SelfDeleteBatchName(2520, 0x1A2B), "_DEL_ME_2520_00001A2B.BAT");
  EXPECT_NE(SelfDeleteBatchName(2520, 1), SelfDeleteBatchName(2521, 1));
  EXPECT_NE(SelfDeleteBatchName(2520, 1), SelfDeleteBatchName(2520, 2));
}

TEST(Files, FormatWriteFailure) {
  EXPECT_EQ(FormatWriteFailure("Disk full.", 1500, 0, 123456789.9),
            "Disk full.<P>  Data Size: <T>1500 Bytes<P>  File Size:  <T>0 Bytes<P>  Bytes Free: <T>123456789 Bytes");
  // Free space beyond 32 bits and an unknown figure.
  EXPECT_NE(FormatWriteFailure("", 1, 2, 8589934592.0).find("<T>8589934592 Bytes"), std::string::npos);
  EXPECT_NE(FormatWriteFailure("", 1, 2, -1).find("Bytes Free: <T>-1 Bytes"), std::string::npos);
}

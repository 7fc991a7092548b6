// How a file item's header says what its name is encoded in, and what the
// package writer puts there: non-ASCII names marked as UTF-8, ASCII names
// unmarked and so byte for byte what every earlier writer made.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "package/item_name.h"
#include "package/item_name_shown.h"
#include "package/package_items.h"
#include "package_fixture.h"
#include "paths/utils.h"

using namespace pkgtest;

namespace {

TEST(ItemName, TheThirdFieldMarksUtf8) {
  struct Case {
    const char* header;
    NameEncoding encoding;
  } cases[] = {
      {"|Setup.exe|0|", NameEncoding::Ansi},
      {"|M\xC3\xBCller.txt|0|utf8|", NameEncoding::Utf8},
      {"|M\xC3\xBCller.txt||utf8|", NameEncoding::Utf8},  // empty date field
      {"|Engine.exe* /x|1031497895|utf8|", NameEncoding::Utf8},
      {"\\a\\0\\utf8\\", NameEncoding::Utf8},  // the first byte is the separator, as for the stub
      {"|a|0|UTF8|", NameEncoding::Ansi},      // the mark is exact
      {"|a|0|utf8", NameEncoding::Ansi},       // an unclosed field is no field
      {"|a|0|utf-8|", NameEncoding::Ansi},
      {"|a|0||utf8|", NameEncoding::Ansi},  // only the third field counts
      {"|a*utf8|0|", NameEncoding::Ansi},
      {"|utf8|0|", NameEncoding::Ansi},
      {"", NameEncoding::Ansi},
  };
  for (const Case& c : cases) EXPECT_EQ(ItemNameEncoding(c.header), c.encoding) << c.header;
}

TEST(ItemName, HeadersReadBackAsWritten) {
  struct Case {
    std::string field;
    uint32_t dosTime;
    NameEncoding encoding;
    std::string bytes;
  } cases[] = {
      {"Setup.exe", 0, NameEncoding::Ansi, "|Setup.exe|0|"},
      {"Engine.exe* /LANG=DE", 1382295748, NameEncoding::Ansi, "|Engine.exe* /LANG=DE|1382295748|"},
      {"M\xC3\xBCller.txt", 7, NameEncoding::Utf8, "|M\xC3\xBCller.txt|7|utf8|"},
      {"\xE6\x97\xA5.exe* /N=\xCE\xA9", 0, NameEncoding::Utf8, "|\xE6\x97\xA5.exe* /N=\xCE\xA9|0|utf8|"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes);
    const std::string header = ItemHeader(c.field, c.dosTime, c.encoding);
    EXPECT_EQ(header, c.bytes);
    EXPECT_EQ(ItemNameEncoding(header), c.encoding);
    // The reader of two fields sees the same name and date either way.
    FileItemInfo info;
    ASSERT_TRUE(SplitFileItem(header + '\0' + "content", info));
    EXPECT_EQ(ListItem(info.header, 0, ""), c.field);
    EXPECT_EQ(info.dosTime, c.dosTime);
    EXPECT_EQ(info.content, "content");
  }
}

TEST(ItemName, OnlyNonAsciiSourceNamesAreMarked) {
  EXPECT_EQ(EncodingForSourceName("Setup.exe"), NameEncoding::Ansi);
  EXPECT_EQ(EncodingForSourceName("Engine.exe* /LANG=DE"), NameEncoding::Ansi);
  EXPECT_EQ(EncodingForSourceName("M\xC3\xBCller.txt"), NameEncoding::Utf8);
  EXPECT_EQ(EncodingForSourceName("Engine.exe* /USER=J\xC3\xBCrgen"), NameEncoding::Utf8);
}

std::string Latin1ToUtf8(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (uint8_t(c) < 0x80) {
      out += c;
    } else {
      out += char(0xC0 | (uint8_t(c) >> 6));
      out += char(0x80 | (uint8_t(c) & 0x3F));
    }
  }
  return out;
}

TEST(ItemName, Decoding) {
  struct Case {
    std::string stored;
    NameEncoding encoding;
    std::string (*ansiToPath)(const std::string&);
    bool ok;
    std::string path;
  } cases[] = {
      {"M\xC3\xBCller.txt", NameEncoding::Utf8, Latin1ToUtf8, true, "M\xC3\xBCller.txt"},  // no second conversion
      {"M\xFCller.txt", NameEncoding::Utf8, Latin1ToUtf8, false, ""},
      {"\xC0\xAE\xC0\xAE", NameEncoding::Utf8, nullptr, false, ""},
      {"M\xFCller.txt", NameEncoding::Ansi, Latin1ToUtf8, true, "M\xC3\xBCller.txt"},
      {"M\xFCller.txt", NameEncoding::Ansi, nullptr, true, "M\xFCller.txt"},
      {"Setup.exe", NameEncoding::Ansi, [](const std::string&) { return std::string("changed"); }, true,
       "Setup.exe"},  // ASCII is never converted
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stored);
    std::string out = "stale";
    EXPECT_EQ(DecodeItemName(c.stored, c.encoding, c.ansiToPath, out), c.ok);
    EXPECT_EQ(out, c.path);
  }
}

TEST(ItemName, ShownNamesKeepUtf8AndEscapeEverythingElse) {
  struct Case {
    std::string stored;
    NameEncoding encoding;
    std::string shown;
  } cases[] = {
      {"Setup.exe", NameEncoding::Ansi, "Setup.exe"},
      {"M\xC3\xBCller.txt", NameEncoding::Utf8, "M\xC3\xBCller.txt"},
      {"M\xC3\xBCller.txt", NameEncoding::Ansi, "M\\xC3\\xBCller.txt"},  // its characters depend on a code page
      {"M\xFCller.txt", NameEncoding::Utf8, "M\\xFCller.txt"},
      {"a\x1B[2Jb", NameEncoding::Utf8, "a\\x1B[2Jb"},  // no terminal controls
  };
  for (const Case& c : cases) EXPECT_EQ(ShownItemName(c.stored, c.encoding), c.shown) << c.shown;
}

// The plain bytes (header, 0x00, content) of every file item of a one-volume package.
std::vector<std::string> FileItemsOf(const std::string& path) {
  VolumeContents v;
  std::string error;
  EXPECT_TRUE(ReadVolumeItems(path, v, error)) << error;
  std::vector<std::string> items;
  for (size_t i = v.trailer.HeaderItemCount; i < v.items.size(); ++i) {
    std::string plain = v.items[i].payload;
    if (v.items[i].length > 0) {
      EXPECT_TRUE(InflateBytes(v.items[i].payload, plain, error)) << error;
    }
    items.push_back(plain);
  }
  return items;
}

TEST(ItemName, TheWriterMarksNonAsciiNamesOnly) {
  TempDir dir;
  PackagePlan plan = BasicSpec();
  plan.jobs = 1;
  plan.files = {{"Engine.exe", "E", "", 0, 9, true, "/LANG=DE"},
                {"Data.bin", "d", "", 77, kStoredLevel},
                {"M\xC3\xBCller.txt", "m", "", 0, kStoredLevel},
                {"\xE6\x97\xA5\xE6\x9C\xAC.txt", "j", "", 5, 9},
                // A non-ASCII argument marks the whole field: the entry is one text.
                {"Run.exe", "r", "", 0, 9, true, "/USER=J\xC3\xBCrgen"}};
  ASSERT_EQ(WritePackage(plan, dir.Path("Setup.exe")).error, "");
  const std::string z(1, '\0');
  EXPECT_EQ(FileItemsOf(dir.Path("Setup.exe")),
            (std::vector<std::string>{
                "|Engine.exe*/LANG=DE|0|" + z + "E", "|Data.bin|77|" + z + "d", "|M\xC3\xBCller.txt|0|utf8|" + z + "m",
                "|\xE6\x97\xA5\xE6\x9C\xAC.txt|5|utf8|" + z + "j", "|Run.exe*/USER=J\xC3\xBCrgen|0|utf8|" + z + "r"}));

  // The building block writes the stored bytes exactly: length word, header, 0x00, content.
  EXPECT_EQ(FileItem("a.txt", 5, "hi", kStoredLevel), std::string("\xF4\xFF\xFF\xFF|a.txt|5|\0hi", 16));
  EXPECT_EQ(FileItem("\xC3\xA4.txt", 5, "hi", kStoredLevel, NameEncoding::Utf8),
            std::string("\xEE\xFF\xFF\xFF|\xC3\xA4.txt|5|utf8|\0hi", 22));
}

TEST(ItemName, TheWriterRefusesNamesThatAreNotUtf8) {
  TempDir dir;
  WriteAll(dir.Path("source.bin"), "s");
  struct Case {
    PackFile file;
    std::string error;
  } cases[] = {
      {{"M\xFCller.txt", "", dir.Path("source.bin")},
       "file name is not valid UTF-8: \"M\\xFCller.txt\" (from " + dir.Path("source.bin") + ")"},
      {{"\xC0\xAE\xC0\xAE", "x"}, "file name is not valid UTF-8: \"\\xC0\\xAE\\xC0\\xAE\""},
      {{"Run.exe", "x", "", 0, 9, true, "/USER=J\xFCrgen"},
       "the engine arguments of \"Run.exe\" are not valid UTF-8: \"/USER=J\\xFCrgen\""},
  };
  for (const Case& c : cases) {
    PackagePlan plan = BasicSpec();
    plan.files = {{"Good.txt", "g"}, c.file};
    EXPECT_EQ(WritePackage(plan, dir.Path("Setup.exe")).error, c.error);
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"source.bin"});  // nothing written
  }
}

}  // namespace

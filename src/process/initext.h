// An INI file read from bytes in memory, by the rules of the system's
// profile functions: so that the agent decides from the very bytes it
// verified, never from a file that someone may have changed since.
#pragma once
#include <string>
#include <vector>

class IniText {
 public:
  // A UTF-16 file (either byte order, with its mark) or a UTF-8 file with
  // its mark gives UTF-8 values; any other file gives its 8-bit bytes, which
  // the system reads in the ANSI code page.
  static IniText Parse(const std::string& bytes);

  bool Utf8() const { return utf8_; }
  // The first section of that name (case ignored), then the first key of
  // that name in it (a line without "=" is none). Blanks around names and
  // values do not count, and a
  // value enclosed in a pair of matching quotes (" or ') loses them, which
  // is how a text that begins or ends with a blank is written.
  bool Find(const std::string& section, const std::string& key, std::string& value) const;
  std::string Get(const std::string& section, const std::string& key, const std::string& def = "") const;
  bool Empty() const { return sections_.empty(); }

 private:
  struct Entry {
    std::string key, value;
  };
  struct Section {
    std::string name;
    std::vector<Entry> entries;
  };
  std::vector<Section> sections_;
  bool utf8_ = false;
};

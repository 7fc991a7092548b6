// The list, switch and command-line helpers: delimited and key=value lists,
// the command tail and switch parser, the engine's and the copies' command
// lines, the agent's override list, text scrambling and number texts.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fields.h"
#include "paths/utils.h"
#include "process/settings.h"
#include "setup/setupflow.h"
#include "start/roles.h"

namespace {
void Check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "fuzz_cmdline: %s\n", what);
  std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzFields in(data, size, 4);
  const std::string& a = in.Text(0);
  const std::string& b = in.Text(1);
  const std::string& c = in.Text(2);
  int index = int8_t(in.Byte(0));

  // Lists.
  int count = ListCount(a);
  Check(count >= 0 && size_t(count) <= a.size(), "list count");
  for (int i = -1; i <= count + 1; ++i) {
    std::string item = ListItem(a, i, "\x01");
    Check(item == "\x01" || (i >= 0 && item.size() < a.size()), "list item");
  }
  std::string set = SetListItem(a, index, b);
  if (index >= 0 && !b.empty() && set[0] != '\0') {
    Check(ListItem(set, index, "") == b, "set list item lost its value");
    for (int i = 0; i < count && i != index; ++i) Check(ListItem(set, i, "") == ListItem(a, i, ""), "set list item moved another item");
  }
  std::string value = ListValue(a, b, "def", "empty");
  int64_t n = ListItemInt(a, index, -7);

  // Switches and command lines.
  std::string tail = CommandTailOf(a, b);
  Check(tail.size() <= Trim(a).size(), "command tail longer than the command line");
  std::string sw = SwitchValueIn(tail, c);
  Check(sw.empty() || SwitchPresentIn(tail, c), "value of a switch that is absent");
  int64_t switchInt = SwitchIntIn(tail, c, 5);
  std::string removed = RemoveSwitch(a, b);
  Check(removed.size() <= a.size(), "removing a switch made the text longer");
  EngineCommand cmd = BuildEngineCommandLine(a, in.Text(3), b, "_" + c, in.Text(4), in.Byte(1) & 1);
  Check(cmd.commandLine.find("/TH_ID=") != std::string::npos, "engine command line without its tag");
  std::string relaunch = SpanRelaunchCommandLine(a, b, c);
  std::string copy = XCopyArguments(a, b);
  long long handle = 0, message = 0;
  ParseWmMsg(a, handle, message);
  std::string quoted = QuoteIfBlank(a);
  Check(quoted == a || quoted == "\"" + a + "\"", "quoting");
  std::string stripped = StripQuotes(a, char(in.Byte(2)), in.Byte(1) & 2, in.Byte(1) & 4);
  Check(stripped.size() <= a.size() && TrimStripQuotes(a).size() <= a.size(), "stripping quotes");
  std::string replaced = ReplaceTextNoCase(a, b, c) + ReplaceText(a, b, c) + TextBefore(a, b, c) + TextAfter(a, b, c);
  int pos = PosFrom(b, a, index, in.Byte(1) & 8) + LastPos(b, a) + LastPosNoCaseFromEnd(b, a);
  uint32_t root = 0;
  std::string subKey;
  SplitRegPath(a, root, subKey);
  Check(root >= 0x80000000u && root <= 0x80000006u, "registry root");

  // Override list: whatever is parsed, its text reads back the same.
  OverrideSet ov;
  ov.fill(kOverrideNotSet);
  ParseOverrideListInto(a, ov);
  OverrideSet back;
  back.fill(0);
  ParseOverrideListInto(OverrideListText(ov), back);
  Check(back == ov, "override list does not read back");
  bool valid = VersionInValidList(b, int32_t(switchInt));
  std::string original = OriginalFileNameOf(a) + InfoFileNameOf(a);

  // Scrambling and numbers.
  Check(ScrambleText(ScrambleText(a, true), false) == a || a.compare(0, 12, "Scrambled=01") == 0,
        "scrambled text does not decode back");
  int64_t v = 0;
  if (TryStrToInt64(a, v)) Check(StrToInt64Def(IntToStr(v), v ^ 1) == v, "number text does not read back");
  uint64_t hex = HexToInt(a);

  volatile uint64_t sink = value.size() + uint64_t(n) + uint64_t(switchInt) + relaunch.size() + copy.size() + uint64_t(handle) + uint64_t(message) +
                           replaced.size() + uint64_t(pos) + subKey.size() + valid + original.size() + hex;
  (void)sink;
  return 0;
}

// Item names in messages and listings. A name that is not UTF-8 (an unmarked
// non-ASCII name, whose characters depend on a code page nobody here knows,
// or a marked name that is broken) is shown with its bytes above 0x7F as
// \xNN, so a terminal or log never gets bytes it would misread; control
// bytes are always shown that way.
#pragma once
#include <string>

#include "package/item_name.h"

// s as it is when it is strict UTF-8, else with every byte above 0x7F as
// \xNN; bytes below 0x20 and 0x7F as \xNN in either case.
std::string ShownUtf8(const std::string& s);
// A stored name: a marked one as ShownUtf8 shows it; an unmarked one with
// every byte above 0x7F as \xNN (ASCII names come out unchanged).
std::string ShownItemName(const std::string& stored, NameEncoding encoding);

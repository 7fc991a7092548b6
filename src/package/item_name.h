// How a file item's name is encoded. The header is "|name|dosdate|": an
// unmarked name is in the ANSI code page of the machine that extracts it
// (what every package held before names could be marked). A third field
// "utf8" marks a name in UTF-8; readers that know only two fields ignore it.
#pragma once
#include <cstdint>
#include <string>

constexpr const char* kUtf8NameMark = "utf8";

enum class NameEncoding { Ansi, Utf8 };

NameEncoding ItemNameEncoding(const std::string& header);
// "|nameField|dosTime|" or, marked, "|nameField|dosTime|utf8|". nameField may
// carry "*" and the engine's arguments.
std::string ItemHeader(const std::string& nameField, uint32_t dosTime, NameEncoding encoding);
// The encoding a packer gives a name from its (UTF-8) source: plain ASCII
// stays unmarked, so such packages are byte-identical to earlier ones.
NameEncoding EncodingForSourceName(const std::string& utf8Name);
// The name as stored, ready for the unsafe-name rule: a marked name must be
// strict UTF-8 (false otherwise); an unmarked one is converted by ansiToPath
// (the machine's ANSI code page -> UTF-8; null keeps the bytes).
bool DecodeItemName(const std::string& stored, NameEncoding encoding, std::string (*ansiToPath)(const std::string&),
                    std::string& out);

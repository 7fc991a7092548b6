// Publishing signed releases: the publisher's key pair, the sizes, hashes and
// signature of an INFO file, and the check of what is about to go online.
#pragma once
#include <string>
#include <vector>

int KeygenCommand(const std::vector<std::string>& args);
int PublishCommand(const std::vector<std::string>& args);
int VerifyCommand(const std::vector<std::string>& args);

// INI text edits that keep everything else byte for byte (line ends, other
// keys, comments). Section and key names ignore case, as Windows reads them.
std::string IniGet(const std::string& text, const std::string& section, const std::string& key);
std::string IniSet(const std::string& text, const std::string& section, const std::string& key,
                   const std::string& value);
// The public key file's text: base64 of the point and a line end.
bool ReadPublicKeyFile(const std::string& path, std::string& point, std::string& error);

// The header fields an installed agent holds an update package to: its web
// folder, INFO file, own file name, product token and publisher keys. The
// packer reads them from a built agent so that an update manifest, publish and
// verify can check (or copy) them instead of trusting the publisher to retype
// them.
#pragma once
#include <string>
#include <vector>

struct AgentHeader {
  std::string updateUrl, infoFile, agentExe;  // header fields 0, 1 and 2 as stored
  std::string token;                          // plain text; empty when none or not validly scrambled
  std::string keyField;                       // header field 5: "", "K1" or "K1,K2"
  bool agent = false;  // an agent, or a setup that writes one (IsUpdateAgent or WriteAgentCopy)
};

// The header of a package's first volume; false with a message when the file
// holds no package.
bool ReadAgentHeader(const std::string& path, AgentHeader& out, std::string& error);

// What an agent with header `agent` refuses in an update package with header
// `pkg`, one text per field, named as in the manifest
// ("agent_exe \"x\" differs from the agent's \"y\""). signerPoint: the key
// that signs the release, when known (the package must carry it); otherwise
// the package must carry one of the agent's keys. A new update_url is allowed.
std::vector<std::string> HeaderDifferences(const AgentHeader& agent, const AgentHeader& pkg,
                                           const std::string& signerPoint = "");

// Number of keys in a key field: 0 for none, -1 when it is malformed.
int KeyCount(const std::string& keyField);

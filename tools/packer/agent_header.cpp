#include "agent_header.h"

#include "package/gfileinfo.h"
#include "package/signature.h"
#include "paths/utils.h"

bool ReadAgentHeader(const std::string& path, AgentHeader& out, std::string& error) {
  out = AgentHeader();
  TGFileInfo fi(path);
  if (!fi.HasPackage()) {
    error = path + " holds no package (or it cannot be read)";
    return false;
  }
  const std::string& h = fi.HeaderString();
  out.updateUrl = ListItem(h, 0, "");
  out.infoFile = ListItem(h, 1, "");
  out.agentExe = ListItem(h, 2, "");
  std::string plain;
  if (TryTokenUnscramble(fi.PackageToken(false), plain)) out.token = plain;
  out.keyField = fi.UpdatePublicKey();
  out.agent = fi.IsUpdateAgent() || fi.WriteAgentCopy();
  return true;
}

std::vector<std::string> HeaderDifferences(const AgentHeader& agent, const AgentHeader& pkg,
                                           const std::string& signerPoint) {
  std::vector<std::string> out;
  auto field = [&](const char* name, const std::string& a, const std::string& p) {
    if (!SameText(a, p)) out.push_back(std::string(name) + " \"" + p + "\" differs from the agent's \"" + a + "\"");
  };
  // update_url may change (a new server, https): the package is pinned by the
  // signed INFO file. The names must stay, or the copy is another agent.
  field("info_file", ExtractFileName(agent.infoFile), ExtractFileName(pkg.infoFile));
  field("agent_exe", agent.agentExe, pkg.agentExe);
  // The keys are long: only whether they are acceptable is worth a line.
  if (!UpdateKeepsKeys(agent.keyField, pkg.keyField, signerPoint))
    out.push_back(pkg.keyField.empty()        ? "update_public_key: none, but the agent has " +
                                                    std::to_string(KeyCount(agent.keyField)) + " key(s)"
                  : KeyCount(pkg.keyField) < 0 ? "update_public_key: malformed"
                  : signerPoint.empty()        ? "update_public_key: none of the agent's keys"
                                               : "update_public_key: not the key that signs this release");
  // As the agent compares tokens: both valid and equal, never both empty.
  if (agent.token.empty())
    out.push_back("token: the agent has no product token, so it takes no update package");
  else if (pkg.token != agent.token)
    out.push_back(pkg.token.empty() ? "token: the package has none" : "token: differs from the agent's");
  return out;
}

int KeyCount(const std::string& keyField) {
  if (keyField.empty()) return 0;
  std::vector<std::string> points;
  return ParsePublisherKeys(keyField, points) ? int(points.size()) : -1;
}

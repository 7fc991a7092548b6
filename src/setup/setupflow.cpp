#include "setup/setupflow.h"

#include "paths/utils.h"

int ExtractionExitCode(ExtractOutcome outcome) {
  switch (outcome) {
    case ExtractOutcome::Cancelled: return kExitUserCancelled;
    case ExtractOutcome::PackageMissing: return kExitPackageMissing;
    case ExtractOutcome::Damaged:
    case ExtractOutcome::Decompression: return kExitPackageDamaged;
    case ExtractOutcome::WriteFailed:  // a full disk, a name planted before: the setup failed
    case ExtractOutcome::Done: break;
  }
  return kExitSetupFailed;
}

std::string DecompressionErrorText(const EZLibError& error) {
  return std::string("Decompression error: ") + error.what();
}

std::string FormatMegabytes(double bytes) {
  if (bytes < 0) bytes = 0;
  double mb = bytes != 0 ? bytes / 1048576.0 : 0.0;
  int decimals = mb > 10 ? 1 : (mb >= 1 ? 2 : 3);
  return FixedText(mb, decimals);
}

std::string RemoveSwitch(const std::string& text, const std::string& name) {
  size_t p = text.find(name);
  if (p == std::string::npos || name.empty()) return text;
  size_t e = text.find('/', p + 1);
  return text.substr(0, p) + (e == std::string::npos ? std::string() : text.substr(e));
}

EngineCommand BuildEngineCommandLine(const std::string& entry, const std::string& target,
                                     const std::string& arguments, const std::string& tag,
                                     const std::string& ownExePath, bool isAgent) {
  EngineCommand r;
  std::string a = arguments;
  r.engineName = entry;
  size_t star = entry.find('*');
  if (star != std::string::npos) {
    r.engineName = Trim(entry.substr(0, star));
    a = Trim(a + " " + Trim(entry.substr(star + 1)));
  }
  // The engine path is quoted when it holds a blank (a temp folder under a
  // user name with a blank), so Windows cannot start a different program.
  std::string cl = QuoteIfBlank(NormalizeDirSlash(target, true) + r.engineName);
  if (!a.empty()) cl += " " + a;
  cl += " /TH_ID=" + tag;
  if (cl.find("/OriginExe=") == std::string::npos) cl += " /OriginExe=\"" + ownExePath + "\"";
  if (isAgent) cl += " /AutoUpdateProg";
  cl = RemoveSwitch(cl, "/SpanCdLvl=");
  cl = RemoveSwitch(cl, "/SpanDiskFName1=");
  r.commandLine = cl;
  return r;
}

std::string SetupFolderName(uint32_t exeDosTime) { return "SETUP_" + std::to_string(exeDosTime & 0xFFFF); }

std::string SetupFolderCandidate(uint32_t exeDosTime, int attempt) {
  std::string name = SetupFolderName(exeDosTime);
  return attempt > 0 ? name + "_" + std::to_string(attempt) : name;
}

EngineOutcome RunEngineWithAtom(EngineAtomEnv& env, const std::string& atomName) {
  uint16_t atom = env.AddAtom(atomName);
  if (atom == 0) env.Debug(" GlobalAddAtom failed: " + atomName + "; the engine's outcome will be unknown");
  env.RunEngine();
  // Without our atom a missing one proves nothing; one that is there is not ours to remove.
  if (atom == 0) return EngineOutcome::Unknown;
  uint16_t left = env.FindAtom(atomName);
  if (left == 0) return EngineOutcome::Completed;
  env.DeleteAtom(left);
  return EngineOutcome::NotCompleted;
}

std::string SpaceQuestion(const SpaceTexts& t, bool tempDriveNotice, const std::string& folder, double required,
                          double freeBytes) {
  std::string drive = folder.empty() ? std::string() : UpperCase(folder.substr(0, 1)) + ":";
  std::string msg;
  if (tempDriveNotice) msg = t.s2;
  if (required >= freeBytes) msg = t.s3;
  if (msg.empty()) return msg;
  msg += t.s4 + t.s5 + t.s6;
  msg = ReplaceText(msg, "<DRIVE>", drive);
  msg = ReplaceText(msg, "<SPACE_REQ>", FormatMegabytes(required));
  msg = ReplaceText(msg, "<SPACE_AVAIL>", FormatMegabytes(freeBytes));
  return msg;
}

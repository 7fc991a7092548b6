#include "setup/verify.h"

#include "setup/zlibopen.h"

namespace {

// Counts the bytes it is given and keeps none of them.
class DiscardTarget : public UnpackTarget {
 public:
  bool Write(const void*, size_t) override { return true; }
  bool SetDosTime(uint32_t) override { return true; }
  void Abandon() override {}
  std::string LastError() override { return ""; }
};

// Reads through the real environment; everything that would write, ask or
// show is answered here.
class VerifyEnv : public UnpackEnv {
 public:
  explicit VerifyEnv(UnpackEnv& inner) : inner_(inner) {}

  bool FileExists(const std::string& path) override { return inner_.FileExists(path); }
  std::unique_ptr<UnpackVolume> OpenVolume(const std::string& path) override { return inner_.OpenVolume(path); }
  void ReadTrailer(const std::string& path, PackageTrailer& trailer) override { inner_.ReadTrailer(path, trailer); }
  int64_t LogicalEnd(const std::string& path) override { return inner_.LogicalEnd(path); }
  uint32_t Checksum(const std::string& path, uint32_t trailerLength) override {
    return inner_.Checksum(path, trailerLength);
  }
  bool CreateFolder(const std::string&) override { return true; }
  std::unique_ptr<UnpackTarget> OpenTarget(const std::string&, TargetMode, bool& existed) override {
    existed = false;
    return std::unique_ptr<UnpackTarget>(new DiscardTarget);
  }
  uint32_t FileDosTime(const std::string&) override { return 0; }
  std::string DescribeWriteFailure(const std::string&, int64_t, const std::string& errorText) override {
    return errorText;
  }
  std::string LastErrorText() override { return inner_.LastErrorText(); }
  char PathSeparator() override { return inner_.PathSeparator(); }
  void ErrorBox(const std::string& text) override { inner_.Debug(" verify: " + text); }
  // A missing volume means the package is not whole: never ask for a disk.
  bool ConfirmOkCancel(const std::string&, const std::string&, int, const std::string&) override {
    missingVolume = true;
    return false;
  }
  void EjectMedium(const std::string&) override {}
  void AutoPlayCancelOn() override {}
  void ProcessMessages() override { inner_.ProcessMessages(); }
  void PumpMessagesFor(uint32_t) override { inner_.ProcessMessages(); }
  uint64_t Tick() override { return inner_.Tick(); }
  void Debug(const std::string& line) override { inner_.Debug(line); }

  bool missingVolume = false;

 private:
  UnpackEnv& inner_;
};

}  // namespace

bool VerifyPackageWhole(UnpackEnv& env, const std::string& packagePath, std::string& why) {
  VerifyEnv verify(env);
  ExtractRequest req;
  req.packagePath = packagePath;
  req.targetFolder = "verify";
  bool checksumOk = false;
  std::string entry;
  ExtractOutcome outcome = ExtractOutcome::Done;
  EZLibError zlibError;
  RunExtraction(verify, req, checksumOk, entry, &outcome, &zlibError);
  if (outcome == ExtractOutcome::Decompression) why = std::string("decompression error: ") + zlibError.what();
  else if (verify.missingVolume) why = "a volume is missing";
  else if (!checksumOk) why = "bad checksum or a broken item";
  else if (entry.empty()) why = "no engine in the package";
  else why.clear();
  return why.empty();
}

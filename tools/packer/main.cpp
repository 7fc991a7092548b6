// packer: builds setup packages from a manifest, inspects packages, and
// writes inform files for the auto-update agent.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "extract.h"
#include "inspect.h"
#include "manifest.h"
#include "package/package_writer.h"
#include "package/pkgfile.h"
#include "paths/utils.h"
#include "progress_line.h"
#include "publish.h"

namespace {
const char kUsage[] =
    "usage:\n"
    "  packer build <manifest> [-o <output>] [-j <threads>] [--quiet]\n"
    "      builds the setup file (and its volume files) described by the manifest,\n"
    "      compressing on all cores unless -j says how many threads\n"
    "  packer extract <setup file or first volume> <folder> [--quiet]\n"
    "  packer extract --list <setup file or first volume> [--quiet]\n"
    "      checks every volume, then unpacks every file into the folder (or lists\n"
    "      them) as the setup would; exit code 1 on a damaged package\n"
    "  packer inspect [--json] <setup file or first volume>\n"
    "      prints the trailer, header items and file list and checks every volume;\n"
    "      exit code 1 when a check fails\n"
    "  packer inform <output> --token <token> (--body <text> | --body-file <file>) [--scrambled]\n"
    "      writes an inform file for the auto-update agent\n"
    "  packer keygen <private-key-file> <public-key-file>\n"
    "      creates the publisher's ECDSA P-256 key pair for signed updates\n"
    "  packer publish --key <private-key-file> --info <INFO file> [--update <update setup>]\n"
    "                 [--inform <inform file>] [--serial <n>] [--expires YYYY-MM-DD | --expires-in <days>]\n"
    "                 [--agent <agent.exe>]\n"
    "      writes the files' sizes and SHA-256, a growing serial and the expiry into\n"
    "      the INFO file, then signs it (<INFO file>.sig); with --agent it first\n"
    "      refuses an update that agent would refuse\n"
    "  packer verify (--key <public-key-file> [--token <token>] | --agent <agent.exe> | --allow-unsigned)\n"
    "                --info <INFO file> [--sig <signature file>]\n"
    "      checks the release beside the INFO file as an agent with that key (or\n"
    "      that agent) would; exit code 1 when it would refuse\n"
    "--quiet: no progress line on a terminal (the summary line stays).\n"
    "See docs/packer.md for the manifest format.\n";

int Usage(const std::string& problem) {
  if (!problem.empty()) std::fprintf(stderr, "packer: %s\n", problem.c_str());
  std::fprintf(stderr, "%s", kUsage);
  return 2;
}

int Fail(const std::string& problem) {
  std::fprintf(stderr, "packer: %s\n", problem.c_str());
  return 1;
}

uint64_t FileSize(const std::string& path) {
  std::FILE* f = OpenSharedRead(path);
  int64_t n = f ? FileSizeOf(f) : 0;
  if (f) std::fclose(f);
  return n > 0 ? uint64_t(n) : 0;
}

int Build(const std::vector<std::string>& args) {
  std::string manifest, output;
  int jobs = 0;
  bool quiet = false;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "-o") {
      if (i + 1 >= args.size()) return Usage("-o needs a file name");
      output = args[++i];
    } else if (args[i] == "-j") {
      int64_t n = 0;
      if (i + 1 >= args.size() || !TryStrToInt64(args[i + 1], n) || n < 1 || n > 64)
        return Usage("-j needs a number of threads from 1 to 64");
      jobs = int(n);
      ++i;
    } else if (args[i] == "--quiet") {
      quiet = true;
    } else if (manifest.empty()) {
      manifest = args[i];
    } else {
      return Usage("unexpected argument \"" + args[i] + "\"");
    }
  }
  if (manifest.empty()) return Usage("build needs a manifest");
  int64_t epoch = 0;
  bool malformed = false;
  bool haveEpoch = SourceDateEpoch(epoch, &malformed);
  if (malformed) return Fail("SOURCE_DATE_EPOCH must be a number of seconds since 1970 (digits only)");
  Manifest m;
  std::string error;
  if (!LoadManifest(manifest, m, error)) return Fail(error);
  for (const std::string& w : m.warnings) std::fprintf(stderr, "packer: warning: %s\n", w.c_str());
  if (!output.empty()) m.output = output;
  if (m.output.empty()) return Fail(manifest + ": no output given ([package] output = ... or -o)");
  if (haveEpoch) m.plan.reproducible = true;
  m.plan.jobs = jobs;
  std::string folder = DirOf(m.output);
  std::error_code ec;
  if (!folder.empty() && !std::filesystem::is_directory(folder, ec) &&
      !std::filesystem::create_directories(folder, ec))
    return Fail("cannot create the folder " + folder + (ec ? ": " + ec.message() : ""));
  uint64_t bytesIn = 0;
  for (const PackFile& f : m.plan.files) bytesIn += f.sourcePath.empty() ? f.content.size() : FileSize(f.sourcePath);
  ProgressLine line(!quiet && StderrIsTerminal(), "packing", m.plan.files.size(), bytesIn);
  PackResult r = WritePackage(m.plan, m.output, [&](size_t files, uint64_t bytes) { line.Update(files, bytes); });
  line.Finish();
  if (!r.error.empty()) return Fail(r.error);
  uint64_t bytesOut = 0;
  for (const std::string& v : r.volumes) {
    std::printf("wrote %s\n", v.c_str());
    bytesOut += FileSize(v);
  }
  std::printf("%s\n", SummaryLine("build", r.volumes.size(), m.plan.files.size(), bytesIn, bytesOut, bytesOut, bytesIn,
                                  line.Seconds())
                          .c_str());
  return 0;
}

int Extract(const std::vector<std::string>& args) {
  ExtractOptions o;
  std::vector<std::string> paths;
  for (const std::string& a : args) {
    if (a == "--list")
      o.listOnly = true;
    else if (a == "--quiet")
      o.quiet = true;
    else if (a.rfind("--", 0) == 0)
      return Usage("unknown option \"" + a + "\"");
    else
      paths.push_back(a);
  }
  if (o.listOnly ? paths.size() != 1 : paths.size() != 2)
    return Usage(o.listOnly ? "extract --list needs exactly one package" : "extract needs a package and a folder");
  o.package = paths[0];
  if (!o.listOnly) o.folder = paths[1];
  return ExtractCommand(o);
}

int Inform(const std::vector<std::string>& args) {
  std::string output, token, body;
  bool haveToken = false, haveBody = false, scrambled = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if ((a == "--token" || a == "--body" || a == "--body-file") && i + 1 >= args.size())
      return Usage(a + " needs a value");
    if (a == "--token") {
      token = args[++i];
      haveToken = true;
    } else if (a == "--body") {
      body = args[++i];
      haveBody = true;
    } else if (a == "--body-file") {
      if (!ReadWholeFile(args[++i], body)) return Fail("cannot read " + args[i]);
      haveBody = true;
    } else if (a == "--scrambled") {
      scrambled = true;
    } else if (output.empty() && a.rfind("--", 0) != 0) {
      output = a;
    } else {
      return Usage("unexpected argument \"" + a + "\"");
    }
  }
  if (output.empty() || !haveToken || !haveBody) return Usage("inform needs an output, --token and a body");
  if (token.empty() || token.size() > kMaxTokenLength || token.find('|') != std::string::npos)
    return Fail("the token must have 1 to " + std::to_string(kMaxTokenLength) + " characters and no \"|\"");
  std::string text = BuildInformText(token, body, scrambled);
  std::string temp = output + ".part";
  std::FILE* f = std::fopen(temp.c_str(), "wb");
  if (!f) return Fail("cannot create " + temp);
  bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  ok = std::fclose(f) == 0 && ok;
  if (ok) {
    std::remove(output.c_str());
    ok = std::rename(temp.c_str(), output.c_str()) == 0;
  }
  if (!ok) {
    std::remove(temp.c_str());
    return Fail("cannot write " + output);
  }
  std::printf("wrote %s\n", output.c_str());
  return 0;
}
}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage("");
  std::string cmd = argv[1];
  std::vector<std::string> args(argv + 2, argv + argc);
  if (cmd == "build") return Build(args);
  if (cmd == "inspect") {
    bool json = !args.empty() && args[0] == "--json";
    if (json) args.erase(args.begin());
    if (args.size() != 1) return Usage("inspect needs exactly one file");
    return InspectPackage(args[0], json);
  }
  if (cmd == "extract") return Extract(args);
  if (cmd == "inform") return Inform(args);
  if (cmd == "keygen") return KeygenCommand(args);
  if (cmd == "publish") return PublishCommand(args);
  if (cmd == "verify") return VerifyCommand(args);
  if (cmd == "-h" || cmd == "--help" || cmd == "help") {
    std::printf("%s", kUsage);
    return 0;
  }
  return Usage("unknown command \"" + cmd + "\"");
}

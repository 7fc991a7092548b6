// The Windows packer's cryptography over the system's CNG: the same checks
// that the agent and the web stub run, plus key generation and signing.
#include <windows.h>
#include <sddl.h>

#include "crypto.h"
#include "keyfile.h"
#include "package/cng_win.h"

bool MakeKeyPair(std::string& privatePem, std::string& point, std::string& error) {
  std::string d;
  if (!CngGenerateP256(d, point, error)) return false;
  privatePem = EncodeP256PrivateKeyPem(d, point);
  return true;
}

bool SignWithKey(const std::string& privatePem, const std::string& data, std::string& signature, std::string& point,
                 std::string& error) {
  std::string d;
  if (!DecodeP256PrivateKeyPem(privatePem, d, point, error)) return false;
  return CngSignP256(d, point, data, signature, error);
}

CryptoCheck VerifyWithKey(const std::string& point, const std::string& data, const std::string& signature) {
  return CngVerifyP256(point, data, signature);
}

bool Sha256OfFile(const std::string& path, std::string& digest, std::string& error) {
  return CngSha256File(path, digest, error);
}

bool WriteSecretFile(const std::string& path, const std::string& text, std::string& error) {
  // Protected DACL: full access for the file's owner, nobody else.
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA("D:P(A;;FA;;;OW)", SDDL_REVISION_1, &sd, nullptr)) {
    error = "cannot make an owner-only security descriptor";
    return false;
  }
  SECURITY_ATTRIBUTES sa{sizeof sa, sd, FALSE};
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, &sa, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  LocalFree(sd);
  if (h == INVALID_HANDLE_VALUE) {
    error = "cannot create " + path + (GetLastError() == ERROR_FILE_EXISTS ? ": it exists" : "");
    return false;
  }
  DWORD put = 0;
  bool ok = WriteFile(h, text.data(), DWORD(text.size()), &put, nullptr) && put == text.size();
  ok = CloseHandle(h) && ok;
  if (!ok) {
    error = "cannot write " + path;
    DeleteFileA(path.c_str());
  }
  return ok;
}

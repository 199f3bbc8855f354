#pragma once
// A throw-away certificate authority and a server certificate for 127.0.0.1 and
// localhost signed by it, so TLS clients can be tested against a CA they must trust
// explicitly.

#include <filesystem>

namespace tarvok::emulator {

struct TCertificateFiles {
  std::filesystem::path CaCert;      // PEM
  std::filesystem::path ServerCert;  // PEM, the server certificate
  std::filesystem::path ServerKey;   // PEM, its private key
};

// Writes the three files into AFolder (which must exist). Throws std::runtime_error.
// AServerExpired: the server certificate's validity ended a day ago (the CA's did not).
TCertificateFiles MakeTestCertificates(const std::filesystem::path& AFolder, bool AServerExpired = false);

}  // namespace tarvok::emulator

#include "tools/gemini-emulator/TestCertificates.h"

#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>

namespace tarvok::emulator {
namespace {

using TKey = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using TCert = std::unique_ptr<X509, decltype(&X509_free)>;

[[noreturn]] void Fail(const std::string& AWhat) {
  throw std::runtime_error("test certificates: " + AWhat);
}

TKey NewKey() {
  // P-256 keys are made in microseconds, unlike RSA.
  TKey key(EVP_EC_gen("P-256"), &EVP_PKEY_free);
  if (!key) Fail("key generation failed");
  return key;
}

void AddExtension(X509* ACert, X509* AIssuer, int ANid, const char* AValue) {
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, AIssuer, ACert, nullptr, nullptr, 0);
  X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, ANid, AValue);
  if (!ext) Fail(std::string("extension ") + OBJ_nid2sn(ANid));
  X509_add_ext(ACert, ext, -1);
  X509_EXTENSION_free(ext);
}

TCert NewCert(EVP_PKEY* AKey, const char* ACommonName, bool AExpired = false) {
  TCert cert(X509_new(), &X509_free);
  if (!cert) Fail("X509_new");
  X509_set_version(cert.get(), 2);
  // A random serial: clients may cache certificates by issuer and serial.
  unsigned char serial[16];
  RAND_bytes(serial, sizeof serial);
  serial[0] &= 0x7F;
  BIGNUM* bn = BN_bin2bn(serial, sizeof serial, nullptr);
  BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(cert.get()));
  BN_free(bn);
  constexpr long kDay = 60L * 60 * 24;
  X509_gmtime_adj(X509_getm_notBefore(cert.get()), AExpired ? -30 * kDay : -60 * 60);
  X509_gmtime_adj(X509_getm_notAfter(cert.get()), AExpired ? -kDay : 30 * kDay);
  X509_set_pubkey(cert.get(), AKey);
  X509_NAME* name = X509_get_subject_name(cert.get());
  X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>("Tarvok tests"), -1, -1, 0);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>(ACommonName), -1, -1, 0);
  return cert;
}

void WritePem(const std::filesystem::path& APath, X509* ACert, EVP_PKEY* AKey) {
  FILE* f = std::fopen(APath.c_str(), "wb");
  if (!f) Fail("cannot write " + APath.string());
  bool ok = ACert ? PEM_write_X509(f, ACert) == 1
                  : PEM_write_PrivateKey(f, AKey, nullptr, nullptr, 0, nullptr, nullptr) == 1;
  ok = std::fclose(f) == 0 && ok;
  if (!ok) Fail("cannot write " + APath.string());
}

}  // namespace

TCertificateFiles MakeTestCertificates(const std::filesystem::path& AFolder, bool AServerExpired) {
  TKey caKey = NewKey();
  TCert ca = NewCert(caKey.get(), "Tarvok test CA");
  X509_set_issuer_name(ca.get(), X509_get_subject_name(ca.get()));
  AddExtension(ca.get(), ca.get(), NID_basic_constraints, "critical,CA:TRUE");
  AddExtension(ca.get(), ca.get(), NID_key_usage, "critical,keyCertSign,cRLSign");
  AddExtension(ca.get(), ca.get(), NID_subject_key_identifier, "hash");
  if (X509_sign(ca.get(), caKey.get(), EVP_sha256()) == 0) Fail("signing the CA");

  TKey serverKey = NewKey();
  TCert server = NewCert(serverKey.get(), "127.0.0.1", AServerExpired);
  X509_set_issuer_name(server.get(), X509_get_subject_name(ca.get()));
  AddExtension(server.get(), ca.get(), NID_basic_constraints, "critical,CA:FALSE");
  AddExtension(server.get(), ca.get(), NID_key_usage, "critical,digitalSignature,keyEncipherment");
  AddExtension(server.get(), ca.get(), NID_ext_key_usage, "serverAuth");
  AddExtension(server.get(), ca.get(), NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost");
  AddExtension(server.get(), ca.get(), NID_authority_key_identifier, "keyid:always");
  if (X509_sign(server.get(), caKey.get(), EVP_sha256()) == 0) Fail("signing the server certificate");

  TCertificateFiles files{AFolder / "ca.pem", AFolder / "server.pem", AFolder / "server.key"};
  WritePem(files.CaCert, ca.get(), nullptr);
  WritePem(files.ServerCert, server.get(), nullptr);
  WritePem(files.ServerKey, nullptr, serverKey.get());
  return files;
}

}  // namespace tarvok::emulator

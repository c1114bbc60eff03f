#include "tools/support/throwaway_cert.h"

#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>

namespace zemlaro {
namespace {

struct BioFree {
  void operator()(BIO* bio) const { BIO_free(bio); }
};
using BioPtr = std::unique_ptr<BIO, BioFree>;

bool AddExtension(X509* cert, int nid, const char* value) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, cert, cert, nullptr, nullptr, 0);
  X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
  if (!extension) return false;
  const bool added = X509_add_ext(cert, extension, -1) == 1;
  X509_EXTENSION_free(extension);
  return added;
}

bool SetRandomSerial(X509* cert) {
  unsigned char serial[16];
  if (RAND_bytes(serial, sizeof serial) != 1) return false;
  serial[0] &= 0x7F;  // keep it positive
  BIGNUM* number = BN_bin2bn(serial, sizeof serial, nullptr);
  const bool set = number && BN_to_ASN1_INTEGER(number, X509_get_serialNumber(cert)) != nullptr;
  BN_free(number);
  return set;
}

bool Fill(X509* cert, EVP_PKEY* key, const std::string& commonName) {
  X509_NAME* name = X509_get_subject_name(cert);
  const auto* cn = reinterpret_cast<const unsigned char*>(commonName.c_str());
  return X509_set_version(cert, 2) == 1 && SetRandomSerial(cert) &&
         X509_gmtime_adj(X509_getm_notBefore(cert), -3600) != nullptr &&
         X509_gmtime_adj(X509_getm_notAfter(cert), 30L * 24 * 3600) != nullptr &&
         X509_set_pubkey(cert, key) == 1 &&
         X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8, cn, -1, -1, 0) == 1 &&
         X509_set_issuer_name(cert, name) == 1 &&
         AddExtension(cert, NID_basic_constraints, "critical,CA:TRUE") &&
         AddExtension(cert, NID_key_usage, "critical,digitalSignature,keyCertSign") &&
         AddExtension(cert, NID_ext_key_usage, "serverAuth") &&
         AddExtension(cert, NID_subject_key_identifier, "hash") &&
         AddExtension(cert, NID_authority_key_identifier, "keyid:always") &&
         AddExtension(cert, NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost") &&
         X509_sign(cert, key, EVP_sha256()) > 0;
}

// The PEM text `write` puts out for an object; empty on failure.
template <typename Write>
std::string PemOf(Write write) {
  BioPtr bio(BIO_new(BIO_s_mem()));
  if (!bio || write(bio.get()) != 1) return {};
  char* data = nullptr;
  const long length = BIO_get_mem_data(bio.get(), &data);
  if (length <= 0 || data == nullptr) return {};
  return std::string(data, static_cast<std::size_t>(length));
}

}  // namespace

void KeyFree::operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
void CertFree::operator()(X509* cert) const { X509_free(cert); }

ThrowawayCertificate MakeThrowawayCertificate(const std::string& commonName) {
  const KeyPtr key(EVP_EC_gen("P-256"));
  const CertPtr cert(X509_new());
  if (!key || !cert || !Fill(cert.get(), key.get(), commonName)) return {};
  ThrowawayCertificate result;
  result.certPem = PemOf([&](BIO* bio) { return PEM_write_bio_X509(bio, cert.get()); });
  result.keyPem = PemOf([&](BIO* bio) {
    return PEM_write_bio_PrivateKey(bio, key.get(), nullptr, nullptr, 0, nullptr, nullptr);
  });
  char hash[16];
  std::snprintf(hash, sizeof hash, "%08lx.0", X509_subject_name_hash(cert.get()));
  result.hashName = hash;
  if (!result.ok()) return {};
  return result;
}

KeyPtr ReadKeyPem(const std::string& pem) {
  BioPtr bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
  if (!bio) return nullptr;
  return KeyPtr(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
}

CertPtr ReadCertificatePem(const std::string& pem) {
  BioPtr bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
  if (!bio) return nullptr;
  return CertPtr(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
}

}  // namespace zemlaro

// A throw-away TLS certificate for servers on 127.0.0.1: self-signed, its own CA, for
// 127.0.0.1 and localhost, valid from an hour ago for thirty days. A client trusts it by
// naming its PEM as a CA file, or by a hashed directory holding it under hashName.
//
// Thread rules: any thread.
#pragma once

#include <openssl/types.h>

#include <memory>
#include <string>

namespace zemlaro {

struct ThrowawayCertificate {
  std::string certPem;
  std::string keyPem;
  std::string hashName;  // the name it takes in a hashed certificate directory ("1a2b3c4d.0")
  bool ok() const { return !certPem.empty() && !keyPem.empty(); }
};

// The subject's common name tells certificates apart, and so does a random serial. Every
// OpenSSL step is checked: on any failure the result is empty (ok() false).
ThrowawayCertificate MakeThrowawayCertificate(const std::string& commonName);

struct KeyFree {
  void operator()(EVP_PKEY* key) const;
};
struct CertFree {
  void operator()(X509* cert) const;
};
using KeyPtr = std::unique_ptr<EVP_PKEY, KeyFree>;
using CertPtr = std::unique_ptr<X509, CertFree>;

// The key and the certificate read back from their PEM text; null when it does not parse.
KeyPtr ReadKeyPem(const std::string& pem);
CertPtr ReadCertificatePem(const std::string& pem);

}  // namespace zemlaro

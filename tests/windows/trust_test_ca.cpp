// trust-test-ca CA.pem: adds the certificate of a PEM file to the current user's Root
// store, so that the system trusts the sample market's throw-away CA. Run only in a
// throw-away Wine prefix: it trusts that one certificate and leaves every other
// check of the system's as it is. Exit 0 when the store holds it afterwards.
// clang-format off
#include <windows.h>
#include <wincrypt.h>
// clang-format on

#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {

struct StoreCloser {
  void operator()(void* store) const { CertCloseStore(static_cast<HCERTSTORE>(store), 0); }
};

std::vector<BYTE> DerOfPem(const std::string& pem) {
  DWORD size = 0;
  if (!CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER,
                            nullptr, &size, nullptr, nullptr)) {
    return {};
  }
  std::vector<BYTE> der(size);
  if (!CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER,
                            der.data(), &size, nullptr, nullptr)) {
    return {};
  }
  der.resize(size);
  return der;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: trust-test-ca CA.pem\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  const std::string pem((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::vector<BYTE> der = DerOfPem(pem);
  if (der.empty()) {
    std::fprintf(stderr, "trust-test-ca: %s holds no PEM certificate\n", argv[1]);
    return 1;
  }
  const std::unique_ptr<void, StoreCloser> store(
      CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"Root"));
  if (!store) {
    std::fprintf(stderr, "trust-test-ca: cannot open the Root store (error %lu)\n", GetLastError());
    return 1;
  }
  if (!CertAddEncodedCertificateToStore(store.get(), X509_ASN_ENCODING, der.data(),
                                        static_cast<DWORD>(der.size()),
                                        CERT_STORE_ADD_REPLACE_EXISTING, nullptr)) {
    std::fprintf(stderr, "trust-test-ca: the Root store refused it (error %lu)\n", GetLastError());
    return 1;
  }
  return 0;
}

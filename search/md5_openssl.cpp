#include <openssl/evp.h>

#include "search/md5.h"

namespace zemlaro::detail {

std::string Md5Digest(std::string_view input) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(input.data(), input.size(), digest, &length, EVP_md5(), nullptr) != 1 ||
      length != kMd5Bytes) {
    return {};
  }
  return std::string(reinterpret_cast<const char*>(digest), length);
}

}  // namespace zemlaro::detail

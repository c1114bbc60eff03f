#include <windows.h>
// After windows.h, which it needs.
#include <bcrypt.h>

#include <utility>

#include "search/md5.h"

namespace zemlaro::detail {
namespace {

// Owns one open algorithm provider.
class AlgorithmProvider {
 public:
  explicit AlgorithmProvider(const wchar_t* algorithm) {
    if (!BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(&handle_, algorithm, nullptr, 0))) {
      handle_ = nullptr;
    }
  }
  ~AlgorithmProvider() {
    if (handle_ != nullptr) ::BCryptCloseAlgorithmProvider(handle_, 0);
  }
  AlgorithmProvider(const AlgorithmProvider&) = delete;
  AlgorithmProvider& operator=(const AlgorithmProvider&) = delete;

  BCRYPT_ALG_HANDLE Get() const { return handle_; }

 private:
  BCRYPT_ALG_HANDLE handle_ = nullptr;
};

}  // namespace

std::string Md5Digest(std::string_view input) {
  // BCryptHash takes at most a ULONG of input.
  if (input.size() > 0xFFFFFFFFu) return {};
  const AlgorithmProvider md5(BCRYPT_MD5_ALGORITHM);
  if (md5.Get() == nullptr) return {};
  std::string digest(kMd5Bytes, '\0');
  const NTSTATUS status =
      ::BCryptHash(md5.Get(), nullptr, 0, reinterpret_cast<PUCHAR>(const_cast<char*>(input.data())),
                   static_cast<ULONG>(input.size()), reinterpret_cast<PUCHAR>(digest.data()),
                   static_cast<ULONG>(digest.size()));
  if (!BCRYPT_SUCCESS(status)) return {};
  return digest;
}

}  // namespace zemlaro::detail

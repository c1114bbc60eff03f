#include "text/iconv_converter.h"

#include <cerrno>
#include <utility>

namespace zemlaro::detail {
namespace {

const iconv_t kClosed = reinterpret_cast<iconv_t>(-1);
// glibc's CP936 is the Windows table (0x80 is the euro sign, A1 A4 is U+00B7).
constexpr char kGbkName[] = "CP936";
constexpr char kUtf16Name[] = "UTF-16LE";

}  // namespace

IconvConverter::IconvConverter(const char* toCode, const char* fromCode)
    : handle_(iconv_open(toCode, fromCode)) {}

IconvConverter::~IconvConverter() {
  if (handle_ != kClosed) iconv_close(handle_);
}

IconvConverter::IconvConverter(IconvConverter&& other) noexcept
    : handle_(std::exchange(other.handle_, kClosed)) {}

IconvConverter& IconvConverter::operator=(IconvConverter&& other) noexcept {
  if (this != &other) {
    if (handle_ != kClosed) iconv_close(handle_);
    handle_ = std::exchange(other.handle_, kClosed);
  }
  return *this;
}

bool IconvConverter::IsOpen() const { return handle_ != kClosed; }

bool IconvConverter::Convert(std::string_view input, std::string& output) {
  output.clear();
  if (!IsOpen()) return false;
  iconv(handle_, nullptr, nullptr, nullptr, nullptr);
  char* in = const_cast<char*>(input.data());
  std::size_t inLeft = input.size();
  char buffer[256];
  while (inLeft > 0) {
    char* out = buffer;
    std::size_t outLeft = sizeof buffer;
    const std::size_t done = iconv(handle_, &in, &inLeft, &out, &outLeft);
    output.append(buffer, static_cast<std::size_t>(out - buffer));
    if (done == static_cast<std::size_t>(-1) && errno != E2BIG) return false;
  }
  // Write out any pending shift state.
  char* out = buffer;
  std::size_t outLeft = sizeof buffer;
  if (iconv(handle_, nullptr, nullptr, &out, &outLeft) == static_cast<std::size_t>(-1)) {
    return false;
  }
  output.append(buffer, static_cast<std::size_t>(out - buffer));
  return true;
}

char16_t DecodeGbkCharacter(std::string_view bytes) {
  static thread_local IconvConverter decoder(kUtf16Name, kGbkName);
  std::string units;
  if (!decoder.Convert(bytes, units) || units.size() != 2) return 0;
  return static_cast<char16_t>(static_cast<unsigned char>(units[0]) |
                               (static_cast<unsigned char>(units[1]) << 8));
}

std::string EncodeGbkCharacter(char16_t unit) {
  static thread_local IconvConverter encoder(kGbkName, kUtf16Name);
  const char units[2] = {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
  std::string bytes;
  if (!encoder.Convert(std::string_view(units, 2), bytes) || bytes.empty() || bytes.size() > 2) {
    return {};
  }
  return bytes;
}

}  // namespace zemlaro::detail

#include "text/iconv_converter.h"

#include <algorithm>
#include <cerrno>
#include <utility>

namespace zemlaro::detail {
namespace {

const iconv_t kClosed = reinterpret_cast<iconv_t>(-1);
// glibc's CP936 is the Windows table (0x80 is the euro sign, A1 A4 is U+00B7).
constexpr char kGbkName[] = "CP936";
// Decoding goes to UCS-4, one step less inside iconv than to UTF-16.
constexpr char kUcs4Name[] = "UCS-4LE";

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

bool IconvConverter::ConvertSome(std::string_view& input, char*& output, std::size_t& outputLeft) {
  if (!IsOpen()) {
    errno = EBADF;
    return false;
  }
  iconv(handle_, nullptr, nullptr, nullptr, nullptr);
  char* in = const_cast<char*>(input.data());
  std::size_t inLeft = input.size();
  const std::size_t done = iconv(handle_, &in, &inLeft, &output, &outputLeft);
  input.remove_prefix(input.size() - inLeft);
  return done != static_cast<std::size_t>(-1);
}

namespace {

IconvConverter& GbkDecoder() {
  static thread_local IconvConverter decoder(kUcs4Name, kGbkName);
  return decoder;
}

// The UTF-16 unit of one UCS-4 code point, or 0 when it needs two units.
char16_t UnitOf(const char* ucs4) {
  const auto byte = [ucs4](int k) {
    return static_cast<char32_t>(static_cast<unsigned char>(ucs4[k]));
  };
  const char32_t cp = byte(0) | byte(1) << 8 | byte(2) << 16 | byte(3) << 24;
  return cp < 0x10000 ? static_cast<char16_t>(cp) : char16_t{0};
}

}  // namespace

char16_t DecodeGbkCharacter(std::string_view bytes) {
  std::string ucs4;
  if (!GbkDecoder().Convert(bytes, ucs4) || ucs4.size() != 4) return 0;
  return UnitOf(ucs4.data());
}

void DecodeGbkRow(unsigned char lead, std::string_view trails, char16_t* units) {
  constexpr std::size_t kMaxPairs = 256;
  const std::size_t count = std::min(trails.size(), kMaxPairs);
  IconvConverter& decoder = GbkDecoder();
  char pairs[2 * kMaxPairs];
  for (std::size_t k = 0; k < count; ++k) {
    pairs[2 * k] = static_cast<char>(lead);
    pairs[2 * k + 1] = trails[k];
  }
  std::size_t k = 0;
  while (k < count) {
    std::string_view input(pairs + 2 * k, 2 * (count - k));
    char buffer[4 * kMaxPairs];
    char* out = buffer;
    std::size_t outLeft = sizeof buffer;
    const bool whole = decoder.ConvertSome(input, out, outLeft);
    const int error = errno;
    const std::size_t consumed = 2 * (count - k) - input.size();
    const auto produced = static_cast<std::size_t>(out - buffer);
    // Each pair read must be exactly one character; should the converter read a pair
    // otherwise (as two characters, say), the rest of the row is asked pair by pair.
    if (consumed % 2 != 0 || produced != 2 * consumed || (!whole && error != EILSEQ)) {
      for (; k < count; ++k) units[k] = DecodeGbkCharacter(std::string_view(pairs + 2 * k, 2));
      return;
    }
    for (std::size_t j = 0; j < consumed / 2; ++j) units[k + j] = UnitOf(buffer + 4 * j);
    k += consumed / 2;
    if (!whole) units[k++] = 0;  // The pair the converter stopped at is no character.
  }
}

}  // namespace zemlaro::detail

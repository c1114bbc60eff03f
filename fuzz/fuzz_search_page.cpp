// ParseSearchPage on any answer bytes: every value it gives is non-empty, already
// trimmed, holds no double quote at a character start, and stands in the converted
// answer. (A quote can stay inside a value as the second byte of a double-byte
// character: a "\xE2\x82\xAC" (euro sign) becomes the single byte 0x80, which
// then takes the closing quote with it.) BuildSearchUrl, with the same bytes as
// the keyword, gives an ASCII address.
#include <cstdint>
#include <string>

#include "check.h"
#include "reference.h"
#include "search/market.h"
#include "search/search_page.h"
#include "text/codepage.h"

namespace {

using zemlaro::fuzz::Escaped;
namespace ref = zemlaro::fuzz::ref;

void CheckValues(const zemlaro::TextArray& values, const char* list, const std::string& converted,
                 const zemlaro::Bytes& answer) {
  for (const std::string& value : values) {
    const std::string what =
        std::string(list) + " value " + Escaped(value) + " from answer " + Escaped(answer);
    FUZZ_CHECK(!value.empty(), what);
    FUZZ_CHECK(zemlaro::TrimSpaces(value) == value, what);
    FUZZ_CHECK(ref::FindForward(value, "\"", std::nullopt, false) == -1, what);
    FUZZ_CHECK(converted.find(value) != std::string::npos, what);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const zemlaro::Bytes answer(data, data + size);
  const zemlaro::SearchPage page = zemlaro::ParseSearchPage(answer);
  const std::string converted = zemlaro::Utf8ToGbk(zemlaro::TextOfBytes(answer));
  CheckValues(page.titles, "title", converted, answer);
  CheckValues(page.itemIds, "item id", converted, answer);
  CheckValues(page.sellerNicks, "seller nick", converted, answer);

  const std::string keyword = zemlaro::TextOfBytes(answer);
  const int pageNumber = 1 + static_cast<int>(size % 64);
  const std::string url = zemlaro::BuildSearchUrl(keyword, pageNumber, zemlaro::kSearchHost);
  for (const char c : url) {
    FUZZ_CHECK(static_cast<unsigned char>(c) >= 0x21 && static_cast<unsigned char>(c) < 0x7F,
               "address " + Escaped(url) + " for keyword " + Escaped(keyword));
  }
  // The keyword part is whole "%XX" groups, three bytes per UTF-8 byte.
  const std::size_t q = url.find("&q=");
  const std::size_t tail = url.find("&imgfile=");
  FUZZ_CHECK(q != std::string::npos && tail != std::string::npos && tail >= q + 3 &&
                 (tail - q - 3) == 3 * zemlaro::GbkToUtf8(keyword).size(),
             "address " + Escaped(url) + " for keyword " + Escaped(keyword));
  return 0;
}

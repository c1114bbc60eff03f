#include "search/search_page.h"

#include <cstdint>

#include "search/market.h"
#include "text/codepage.h"

namespace zemlaro {
namespace {

constexpr char kPathAndFirstKey[] = "/search?data-key=s&data-value=";
constexpr char kFixedKeys[] = "&ajax=true&_ksTS=1464678556216_793&callback=jsonp10";
constexpr char kKeywordKey[] = "&q=";
constexpr char kFixedTail[] =
    "&imgfile=&js=1&stats_click=search_radio_all:1&initiative_id=staobaoz_20160531&ie=utf8"
    "&bcoffset=1&p4ppushleft=1,48&sort=default&tab=all&loc=&filter=reserve_price[,]";

constexpr char kTitleMarker[] = "\"raw_title\":\"";
constexpr char kItemIdMarker[] = "\"nid\":\"";
constexpr char kSellerNickMarker[] = "\"nick\":\"";
constexpr char kValueEnd[] = "\"";

}  // namespace

Text BuildSearchUrl(std::string_view keyword, int page, std::string_view searchHost) {
  // 64 bits: the offset of a page past 48 million no longer fits an int.
  const std::int64_t offset = std::int64_t{kPageStep} * (std::int64_t{page} - 1);
  return JoinTexts({"https://", searchHost, kPathAndFirstKey, FormatInteger(offset), kFixedKeys,
                    FormatInteger(page), kKeywordKey,
                    PercentEncode(keyword, /*keepSafe=*/false, /*toUtf8=*/true), kFixedTail});
}

SearchPage ParseSearchPage(const Bytes& answer) {
  // The three lists of AllTextBetween over Utf8ToGbk(TextOfBytes(answer)), cut out
  // as the answer is converted, so that a large answer is never held twice.
  SearchPage page;
  const MarkerCut cuts[] = {{kTitleMarker, kValueEnd, &page.titles},
                            {kItemIdMarker, kValueEnd, &page.itemIds},
                            {kSellerNickMarker, kValueEnd, &page.sellerNicks}};
  AllTextBetweenUtf8(TextViewOfBytes(answer), cuts);
  return page;
}

}  // namespace zemlaro

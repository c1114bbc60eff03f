// The listing search's fixed values: the marketplace's hosts and the texts the
// search run shows.
#pragma once

namespace zemlaro {

// Host (and optional ":port") of the search service, reached over HTTPS.
inline constexpr char kSearchHost[] = "s.taobao.com";
// Host of the item detail pages, reached over HTTPS.
inline constexpr char kItemHost[] = "item.taobao.com";

inline constexpr int kPageStep = 44;

// "稍候获取宝贝数据 第" and the progress caption's tail around the next page's number.
inline constexpr char kWaitingCaptionHead[] =
    "\xC9\xD4\xBA\xF2\xBB\xF1\xC8\xA1\xB1\xA6\xB1\xB4\xCA\xFD\xBE\xDD \xB5\xDA";

// Progress caption around the page number, code page 936:
// "正在获取宝贝数据 第" and "页···" (the dots are A1 A4, U+00B7).
inline constexpr char kProgressCaptionHead[] =
    "\xD5\xFD\xD4\xDA\xBB\xF1\xC8\xA1\xB1\xA6\xB1\xB4\xCA\xFD\xBE\xDD \xB5\xDA";
inline constexpr char kProgressCaptionTail[] = "\xD2\xB3\xA1\xA4\xA1\xA4\xA1\xA4";

}  // namespace zemlaro

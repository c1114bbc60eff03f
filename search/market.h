// The marketplace's fixed values.
#pragma once

namespace zemlaro {

// Host (and optional ":port") of the search service, reached over HTTPS.
inline constexpr char kSearchHost[] = "s.taobao.com";
// Host of the item detail pages, reached over HTTPS.
inline constexpr char kItemHost[] = "item.taobao.com";

inline constexpr int kPageStep = 44;

}  // namespace zemlaro

// The contract with the marketplace's search service: the address of one result
// page, and the three lists cut out of its JSONP answer by fixed markers.
#pragma once

#include "text/text.h"

namespace zemlaro {

struct SearchPage {
  TextArray titles;
  TextArray itemIds;
  TextArray sellerNicks;
};

// `searchHost` may carry a ":port"; the programs pass kSearchHost.
Text BuildSearchUrl(std::string_view keyword, int page, std::string_view searchHost);
SearchPage ParseSearchPage(const Bytes& answer);

}  // namespace zemlaro

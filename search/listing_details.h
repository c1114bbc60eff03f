// Price, sales and location of each listing of a search page answer, for the views
// that show them. The specified run keeps its three lists (search_page.h); these
// details come beside them.
// Plain functions over values; any thread.
#pragma once

#include <vector>

#include "text/text.h"

namespace zemlaro {

struct ListingDetails {
  Text price;
  Text sales;
  Text location;
};

// One entry for every title of ParseSearchPage's title list, in the same order, each
// with the view_price, view_sales and item_loc values found within that listing's
// extent: from its title marker to the next title marker (of a kept or a skipped
// title), or the end. A value absent there is empty; a value never moves to another
// listing. `answerGbk` is the answer as ParseSearchPage reads it, in code page 936.
std::vector<ListingDetails> LegacyListingDetails(const Text& answerGbk);

}  // namespace zemlaro

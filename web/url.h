// Taking an address apart into host, port and path for the HTTP request.
#pragma once

#include <optional>

#include "text/text.h"

namespace zemlaro {

// The lower-case host. An absent `extraLevels` selects the scheme-marker way of
// finding the host; a given one (even 0) cuts the host down to its last labels.
Text UrlHost(std::string_view url, bool domainOnly = false, bool keepPort = false,
             std::optional<int> extraLevels = std::nullopt);
// The explicit port, else 443 for an "https" address and 80 otherwise.
int UrlPort(std::string_view url);
// "/" or the address from the first "/" after the host to its end.
Text UrlPath(std::string_view url);

}  // namespace zemlaro

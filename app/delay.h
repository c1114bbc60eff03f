// A wait that keeps the calling thread's events flowing.
#pragma once

#include <cstdint>
#include <optional>

namespace zemlaro::app {

// The due time of a wait in units of 100 ns, negative for "this long from now":
// amount x unit multiplier x -10,000, in double precision, truncated toward zero.
// Units: 0 ms, 1 s, 2 min, 3 h; any other value is the multiplier itself. An
// omitted amount with unit 0 asks for 18,000,000 x 18,000,000 ms (about 10,000
// years). Results beyond 64 bits saturate.
std::int64_t DelayDueTime(std::optional<std::int32_t> amount, std::optional<std::int32_t> unit);

// How long a due time makes the wait, in milliseconds: a due time of zero or above
// is an absolute time in the past and waits not at all.
std::int64_t DelayMilliseconds(std::int64_t dueTime);

// Waits on the calling thread's event loop without polling; events, nested calls
// included, are handled meanwhile. Returns early only when the application quits.
// Always true.
bool DelayWithoutBlocking(std::optional<std::int32_t> amount = std::nullopt,
                          std::optional<std::int32_t> unit = std::nullopt);

}  // namespace zemlaro::app

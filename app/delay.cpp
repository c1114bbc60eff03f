#include "app/delay.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <climits>
#include <cmath>

namespace zemlaro::app {

std::int64_t DelayDueTime(std::optional<std::int32_t> amount, std::optional<std::int32_t> unit) {
  double value = 0;
  double multiplier = 0;
  if (!amount.has_value() && unit.value_or(0) == 0) {
    value = 18000000.0;
    multiplier = 18000000.0;
  } else {
    value = amount.value_or(0);
    switch (unit.value_or(0)) {
      case 0:
        multiplier = 1;
        break;
      case 1:
        multiplier = 1000;
        break;
      case 2:
        multiplier = 60000;
        break;
      case 3:
        multiplier = 3600000;
        break;
      default:
        multiplier = *unit;
        break;
    }
  }
  const double due = std::trunc(value * multiplier * -10000.0);
  // 2^63 is exact in double; anything at or past it does not fit.
  if (due >= 9223372036854775808.0) return INT64_MAX;
  if (due <= -9223372036854775808.0) return INT64_MIN;
  return static_cast<std::int64_t>(due);
}

std::int64_t DelayMilliseconds(std::int64_t dueTime) {
  if (dueTime >= 0) return 0;
  // Round a partial millisecond up so the wait is never shorter than asked.
  const std::int64_t units = dueTime == INT64_MIN ? INT64_MAX : -dueTime;
  return units / 10000 + (units % 10000 != 0 ? 1 : 0);
}

bool DelayWithoutBlocking(std::optional<std::int32_t> amount, std::optional<std::int32_t> unit) {
  const std::int64_t total = DelayMilliseconds(DelayDueTime(amount, unit));
  if (total <= 0) return true;
  QEventLoop loop;
  QTimer timer;
  timer.setSingleShot(true);
  timer.setTimerType(Qt::PreciseTimer);
  QElapsedTimer clock;
  clock.start();
  // A QTimer takes at most INT_MAX ms, so a longer wait is a chain of them.
  auto arm = [&] {
    const std::int64_t left = total - clock.elapsed();
    if (left <= 0) {
      loop.quit();
      return;
    }
    timer.start(static_cast<int>(std::min<std::int64_t>(left, INT_MAX)));
  };
  QObject::connect(&timer, &QTimer::timeout, &loop, arm);
  arm();
  loop.exec();
  return true;
}

}  // namespace zemlaro::app

// The desktop program's settings file (an INI file beside the cookie store). Window
// thread only. An empty path keeps nothing: every read gives the default.
#pragma once

#include <string>

namespace zemlaro::app {

// "使用旧版接口": search the JSONP search page instead of the current service.
// `fallback` while the file holds no choice.
bool UseLegacyService(const std::string& settingsPath, bool fallback);
void SetUseLegacyService(const std::string& settingsPath, bool legacy);

}  // namespace zemlaro::app

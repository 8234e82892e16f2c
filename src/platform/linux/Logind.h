#pragma once

#include <QLatin1StringView>

// systemd-logind's D-Bus names, shared by everything that talks to it.
namespace pelk::platform::logind {

using namespace Qt::StringLiterals;

inline constexpr auto kService = "org.freedesktop.login1"_L1;
inline constexpr auto kManagerPath = "/org/freedesktop/login1"_L1;
inline constexpr auto kManagerInterface = "org.freedesktop.login1.Manager"_L1;
inline constexpr auto kSessionInterface = "org.freedesktop.login1.Session"_L1;

} // namespace pelk::platform::logind

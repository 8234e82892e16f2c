#!/usr/bin/env bash
# Installs everything the build, the demo and the tests need on Debian 12.
# Idempotent: packages already present are skipped and nothing is printed for them.
set -euo pipefail

packages=(
  # toolchain
  cmake g++ ninja-build pkg-config clang libclang-rt-14-dev clang-format
  # Qt 6.4
  qt6-base-dev qt6-base-dev-tools qt6-declarative-dev qt6-declarative-dev-tools
  qt6-positioning-dev qt6-svg-dev libqt6svg6 qt6-qpa-plugins qt6-l10n-tools qt6-tools-dev qt6-translations-l10n
  qml6-module-qtquick qml6-module-qtquick-window qml6-module-qtquick-controls
  qml6-module-qtquick-layouts qml6-module-qtquick-templates qml6-module-qtqml-workerscript
  qml6-module-qtquick-shapes qml6-module-qtquick-dialogs qml6-module-qtpositioning
  qml6-module-qt5compat-graphicaleffects qml6-module-qtqml qml6-module-qtqml-models qml6-module-qttest qml6-module-qt-labs-platform
  libqt6positioning6-plugins
  # X11 / platform
  libx11-dev libx11-xcb-dev libxcb1-dev libxcb-xtest0-dev libxcb-shm0-dev libxcb-randr0-dev libxcb-damage0-dev
  libxcb-xfixes0-dev libxcb-dpms0-dev libxcb-screensaver0-dev libxcb-xkb-dev libxkbcommon-dev
  libicu-dev libcrypt-dev libturbojpeg0-dev libglib2.0-dev
  # Mutter's screen cast on GNOME's Wayland arrives through PipeWire
  libpipewire-0.3-dev
  # the compositor's own session lock on Wayland desktops that offer it
  libwayland-dev wayland-protocols
  # session services
  dbus dbus-x11 policykit-1 passwd
  # tests and demo
  xvfb xauth x11-utils x11-xserver-utils x11-xkb-utils xdotool imagemagick python3-dbusmock python3-gi
  fonts-dejavu-core openbox xserver-xephyr
  # the accessibility bus and an AT-SPI client for the accessibility test
  at-spi2-core python3-pyatspi
  # the GNOME Wayland lock and support tests: headless Mutter with Xwayland, a Wayland client to
  # type into, and PipeWire with its session manager for Mutter's screen cast
  mutter xwayland wev pipewire wireplumber
  # the Debian package and its checks
  dpkg-dev fakeroot lintian desktop-file-utils libxml2-utils man-db shellcheck
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
# The package lists may be absent on a fresh machine; refresh them once.
if ! apt-cache show "${missing[0]}" >/dev/null 2>&1; then
  $sudo apt-get update -qq
fi
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null

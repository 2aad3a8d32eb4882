#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running and testing Lanternquest need.
# Needs root (apt-get). Packages already present are left as they are.
set -euo pipefail
packages=(
  cmake g++ pkg-config ninja-build googletest libgtest-dev
  clang                  # the thread-safety analysis of the lock annotations (scripts/test.sh)
  libclang-rt-14-dev     # clang's libFuzzer and sanitizer runtimes, for the fuzz targets (fuzz/)
  qt6-base-dev libgl-dev
  adwaita-icon-theme     # the icon theme the window falls back to when the desktop's lacks an icon
  libqt6svg6             # Qt's SVG icon engine: scalable theme icons and the program's own icon
  libsmbclient-dev
  nlohmann-json3-dev     # the command line's JSON output
  libsecret-1-dev        # passwords remembered in the desktop's keyring
  gnome-keyring dbus-daemon libglib2.0-bin  # a real keyring on a private bus for its tests
  python3                # tests read the JSON and CSV output back with Python's parsers
  libxml2-dev libavahi-client-dev   # host discovery: WS-Discovery answers, DNS-SD through avahi
  samba smbclient        # a real smbd on loopback for the network tests
  iproute2               # network namespaces for the workgroup-browsing and discovery tests
  wsdd avahi-daemon avahi-utils dbus   # the discovery test's announcing hosts
  fd-find findutils      # the benchmarks compare against fd and find
  xdg-utils              # opening found files; xdg-mime tells whether any program takes a file's type
  dunst xvfb             # a real notification server (on a virtual display) for the notification test
  locales                # locale sources: a test compiles en_US to check collation and formats
  lintian                # the packaging test checks the Debian package (cpack -G DEB) with it
  appstream              # appstreamcli: validates the AppStream metainfo and the installed tree
  desktop-file-utils     # desktop-file-validate: checks the desktop entry
  zsh fish               # the packaging test parses their completion files with them
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y --no-install-recommends "${missing[@]}"
fi

#!/usr/bin/env bash
# Installs what a Debian 12 machine lacks to build, test and run Kestrelon.
# Does nothing (and needs no network) when everything is already there.
# With --fuzz (or KESTRELON_FUZZ=1) also clang, libFuzzer and the sanitizers'
# runtimes and symbolizer, for scripts/fuzz.sh.
set -euo pipefail

fuzz=${KESTRELON_FUZZ:-0}
for arg in "$@"; do
  case "$arg" in
  --fuzz) fuzz=1 ;;
  *) echo "usage: $0 [--fuzz]" >&2; exit 2 ;;
  esac
done

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev libgl-dev
  libvterm-dev  # the Terminal view's screens
  libudev-dev  # the Comm Port lists' devices and hot-plug
  libgtest-dev
  socat lrzsz
  ser2net  # serves a pseudo-terminal as a port on another machine (RFC 2217)
  ncurses-bin ncurses-base
  xvfb xauth
  fonts-dejavu-core
  chromium python3  # a real browser reads a finished HTML log in the tests
  tshark wireshark-common  # Wireshark's reader checks the capture files (tshark, capinfos)
  desktop-file-utils libxml2-utils groff-base  # the installed desktop entry, icon and manual are checked
  appstream debhelper lintian  # the AppStream metadata is checked, the Debian package built and checked
)
if [ "$fuzz" = 1 ]; then
  packages+=(clang-14 libclang-rt-14-dev llvm-14)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "setup: installing ${missing[*]}" >&2
if [ "$(id -u)" -ne 0 ]; then
  SUDO=sudo
else
  SUDO=
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"

#!/usr/bin/env bash
# Builds the package without its tests (scripts/package.sh fails on lintian's
# errors), unpacks it and checks what it installs and the version it prints.
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
KESTRELON_DEB_DIR="$work" DEB_BUILD_OPTIONS="nocheck parallel=2" "$repo/scripts/package.sh"
deb=$(echo "$work"/kestrelon_*.deb)
dpkg-deb -x "$deb" "$work/root"
gzip -d "$work/root/usr/share/man/man1/kestrelon.1.gz"  # dh_installman compresses it
cmake -DPREFIX="$work/root/usr" -DVERSION="$(dpkg-deb -f "$deb" Version)" \
  -P "$repo/tests/install/check_install.cmake"

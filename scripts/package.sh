#!/usr/bin/env bash
# Builds the Debian package kestrelon_<version>_<arch>.deb into build-deb/
# (or the directory KESTRELON_DEB_DIR names) and checks it with lintian,
# failing on lintian's errors. Installs what the build needs first (apt, as
# root or through sudo), and nothing when all of it is there.
#   scripts/package.sh
#   DEB_BUILD_OPTIONS=nocheck scripts/package.sh   # without running the tests
#   apt install ./build-deb/kestrelon_*_amd64.deb
# The package is built from a copy of the working tree (what git does not
# ignore), so dpkg-buildpackage, which writes beside the tree it builds,
# writes nothing outside the output directory.
set -euo pipefail
cd "$(dirname "$0")/.."
start=$SECONDS

out=$(realpath -m "${KESTRELON_DEB_DIR:-build-deb}")
options=" ${DEB_BUILD_OPTIONS:-} "
profiles=" ${DEB_BUILD_PROFILES:-} "
# The nocheck option skips the tests; the profile drops their dependencies.
if [[ "$options$profiles" == *" nocheck "* ]]; then
  [[ "$options" == *" nocheck "* ]] || options+="nocheck "
  [[ "$profiles" == *" nocheck "* ]] || profiles+="nocheck "
fi
if [[ "$options" != *" parallel="* ]]; then
  options+="parallel=$(nproc) "
fi
export DEB_BUILD_OPTIONS=$(echo $options) DEB_BUILD_PROFILES=$(echo $profiles)
profile_args=()
if [ -n "$DEB_BUILD_PROFILES" ]; then
  profile_args=(-P"${DEB_BUILD_PROFILES// /,}")
fi

SUDO=
if [ "$(id -u)" -ne 0 ]; then
  SUDO=sudo
fi
updated=0
apt_get() {
  if [ "$updated" = 0 ]; then
    $SUDO apt-get update -qq
    updated=1
  fi
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get -y -qq --no-install-recommends "$@"
}
if ! command -v dpkg-checkbuilddeps >/dev/null || ! command -v lintian >/dev/null; then
  apt_get install dpkg-dev lintian
fi
if ! dpkg-checkbuilddeps "${profile_args[@]}" 2>/dev/null; then
  apt_get "${profile_args[@]}" build-dep ./
fi

version=$(dpkg-parsechangelog -S Version)
arch=$(dpkg-architecture -q DEB_HOST_ARCH)
src="$out/kestrelon-$version"
rm -rf "$src" "$out"/kestrelon{,-dbgsym}_"$version"_*
mkdir -p "$src"
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  # Tracked and new files; a tracked file deleted in the tree is left out.
  git ls-files -z --cached --others --exclude-standard |
    tar -c --null -T - --ignore-failed-read 2>/dev/null | tar -x -C "$src"
else
  tar -c --exclude='./build*' . | tar -x -C "$src"
fi

echo "package: building kestrelon $version ($DEB_BUILD_OPTIONS)" >&2
(cd "$src" && dpkg-buildpackage -us -uc -b "${profile_args[@]}")
rm -rf "$src"

changes="$out/kestrelon_${version}_${arch}.changes"
deb="$out/kestrelon_${version}_${arch}.deb"
echo "package: lintian" >&2
lintian --fail-on error "$changes"
echo "package: $deb ($(stat -c %s "$deb") bytes), built in $((SECONDS - start)) s" >&2

#!/usr/bin/env bash
# Installs what is missing, builds Kestrelon and starts the monitor with the
# arguments given (kestrelon --help lists them).
# When no device is given and neither COM1 nor COM2 is mapped to a device
# (KESTRELON_COM1/2), the two are linked by a virtual null-modem cable, a
# socat pseudo-terminal pair, so what is sent on one port arrives on the other.
set -euo pipefail
caller_dir=$PWD
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/devices_given.sh"
cd "$root"
bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target kestrelon

socat_pid=
cable=
cleanup() {
  [ -n "$socat_pid" ] && kill "$socat_pid" 2>/dev/null
  [ -n "$cable" ] && rm -rf "$cable"
  true
}
trap cleanup EXIT

if ! kestrelon_devices_given "$@" && [ -z "${KESTRELON_COM1:-}" ] && [ -z "${KESTRELON_COM2:-}" ]; then
  cable=$(mktemp -d /tmp/kestrelon-cable-XXXXXX)
  socat pty,raw,echo=0,link="$cable/com1" pty,raw,echo=0,link="$cable/com2" &
  socat_pid=$!
  for _ in $(seq 50); do
    [ -e "$cable/com1" ] && [ -e "$cable/com2" ] && break
    sleep 0.1
  done
  export KESTRELON_COM1="$cable/com1" KESTRELON_COM2="$cable/com2"
  echo "COM1 and COM2 are linked by a virtual null-modem cable ($cable)." >&2
fi

# Kestrelon writes kestrelon.cfg into its working directory; run it from the
# caller's directory as a user expects.
cd "$caller_dir"
"$root/build/shell/kestrelon" "$@"

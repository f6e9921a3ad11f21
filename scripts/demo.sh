#!/usr/bin/env bash
# Builds the tool and starts it against three virtual cards.
#
# The cards and the tool run together in a private network namespace that
# has only a loopback interface, so the broadcast search reaches the virtual
# cards and nothing leaves the machine. As root that is `unshare -n`; as an
# ordinary user `unshare -rn` (a user namespace in which we may bind the
# cards' ports 1000-1002 and bring lo up). The window still appears on your
# desktop: X11 and Wayland reach it through sockets in the file system.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$root/build
demo=$build/demo

if [ "${1:-}" = "--inside" ]; then
  ip link set lo up
  mkdir -p "$demo"
  : > "$demo/cardsim.out"
  "$build/cardsim" --cards 3 --state "$demo/cards" --wire-log "$demo/wire.log" > "$demo/cardsim.out" 2>&1 &
  sim=$!
  trap 'kill "$sim" 2>/dev/null || true' EXIT
  for _ in $(seq 100); do
    grep -q '^ready' "$demo/cardsim.out" && break
    sleep 0.1
  done
  grep -q '^ready' "$demo/cardsim.out" || { cat "$demo/cardsim.out" >&2; exit 1; }
  echo "Three virtual cards on 127.0.0.10-12 (state in $demo/cards, wire log in $demo/wire.log)."
  "$build/cardsetup"
  exit 0
fi

scripts/deps.sh
cmake --preset default
cmake --build --preset default

# Writes key=value into section of an INI file, keeping every other line.
set_key() {
  local file=$1 section=$2 key=$3 value=$4
  touch "$file"
  awk -v sec="$section" -v key="$key" -v val="$value" '
    BEGIN { insec = 0; done = 0 }
    { line = $0; sub(/\r$/, "", line) }
    line ~ /^[ \t]*\[/ {
      if (insec && !done) { print key "=" val; done = 1 }
      name = line; sub(/^[ \t]*\[/, "", name); sub(/\].*$/, "", name)
      insec = (tolower(name) == tolower(sec)); print; next
    }
    insec && !done && index(line, "=") {
      k = substr(line, 1, index(line, "=") - 1); gsub(/^[ \t]+|[ \t]+$/, "", k)
      if (tolower(k) == tolower(key)) { print key "=" val; done = 1; next }
    }
    { print }
    END { if (!done) { if (!insec) print "[" sec "]"; print key "=" val } }
  ' "$file" > "$file.tmp" && mv "$file.tmp" "$file"
}

# The tool searches from loopback and does not ask for an adapter.
set_key "$build/subsys/SysCfg.ini" ServerIP ServerIP 127.0.0.1
set_key "$build/subsys/SysCfg.ini" IsShowMulNetCard IsShowMulNetCard 0

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display found: starting the tool on the virtual display :99 (Xvfb)."
  Xvfb :99 -screen 0 1600x1000x24 -nolisten tcp >/dev/null 2>&1 &
  trap 'kill $! 2>/dev/null || true' EXIT
  export DISPLAY=:99
  sleep 1
fi

if [ "$(id -u)" -eq 0 ]; then
  unshare -n "$0" --inside
elif unshare -rn true 2>/dev/null; then
  unshare -rn "$0" --inside
else
  echo "error: this system does not allow user namespaces; run the demo as root (sudo $0)." >&2
  exit 1
fi

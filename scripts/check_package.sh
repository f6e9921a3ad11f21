#!/usr/bin/env bash
# Checks the Debian packages that scripts/package.sh built: lintian reports
# no error, the menu entry and the AppStream metadata validate, and the
# packages work unpacked into a temporary root with a fresh HOME: cardctl
# and cardsetup tell their version, cardsetup starts off-screen and makes
# the per-user working folder from the installed defaults without writing
# anything inside the unpacked tree, and cardsetup-demo finds its three
# virtual cards.
set -euo pipefail
cd "$(dirname "$0")/.."

version=$(sed -n 's/^project(cardsetup VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
main=$(ls build/packages/cardsetup_"$version"_*.deb)
demo=$(ls build/packages/cardsetup-demo_"$version"_*.deb)
fail() {
  echo "package check failed: $*" >&2
  exit 1
}

echo "lintian: $main $demo"
lintian --fail-on error "$main" "$demo" || fail "lintian reports errors"

tmp=$(mktemp -d)
pid=''
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT
root=$tmp/root home=$tmp/home
mkdir -p "$root" "$home"
dpkg-deb -x "$main" "$root"
dpkg-deb -x "$demo" "$root"

desktop-file-validate "$root"/usr/share/applications/*.desktop || fail "desktop-file-validate"
appstreamcli validate --no-net "$root"/usr/share/metainfo/*.metainfo.xml || fail "appstreamcli validate"

tree() { (cd "$root" && find . -printf '%p %y %s %m %T@ %l\n' | sort); }
tree > "$tmp/before"

# Only what the unpacked root gives: its programs first on PATH, a HOME of
# its own, no display.
clean_env=(env -i PATH="$root/usr/bin:/usr/bin:/bin:/usr/sbin:/sbin" HOME="$home" LANG=C.UTF-8)
run() { "${clean_env[@]}" "$@"; }
out=$(run cardctl --version 2>&1) || fail "cardctl --version exits non-zero: $out"
[[ $out == *"$version"* ]] || fail "cardctl --version says '$out', not $version"
out=$(run cardsetup --version 2>&1) || fail "cardsetup --version exits non-zero: $out"
[ "$out" = "cardsetup $version" ] || fail "cardsetup --version says '$out'"

# The window searches at start, so it runs where only loopback exists.
if [ "$(id -u)" -eq 0 ]; then netns=(unshare -n); else netns=(unshare -rn); fi
work=$home/.local/share/cardsetup
# env and unshare exec, so $! is the tool itself.
"${clean_env[@]}" QT_QPA_PLATFORM=offscreen "${netns[@]}" "$root/usr/bin/cardsetup" > "$tmp/cardsetup.log" 2>&1 &
pid=$!
for _ in $(seq 100); do
  [ -f "$work/SysCfg.ini" ] && break
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
[ -f "$work/SysCfg.ini" ] || { cat "$tmp/cardsetup.log" >&2; fail "no $work/SysCfg.ini"; }
# Still running a second later: it started and waits in its first-start
# adapter question.
sleep 1
kill -0 "$pid" 2>/dev/null || { cat "$tmp/cardsetup.log" >&2; fail "cardsetup ended at start"; }
kill "$pid"
wait "$pid" 2>/dev/null || true
pid=''
cmp "$work/SysCfg.ini" "$root/usr/share/cardsetup/defaults/SysCfg.ini" || fail "SysCfg.ini differs from the default"
[ "$(stat -c %s "$work/PlC1MEM.datr")" -eq 1350 ] || fail "PlC1MEM.datr is not 1350 bytes"
for n in 1 2 3 4 5 6 7 8; do
  [ -d "$work/ledsys/CMD$n" ] || fail "no ledsys/CMD$n"
done
[ -d "$work/logs" ] || fail "no logs/"
[ "$(run cardsetup --working-folder)" = "$work/" ] || fail "--working-folder names another folder"

tree > "$tmp/after"
diff "$tmp/before" "$tmp/after" || fail "something was written inside the unpacked packages"

# The demo package: three virtual cards answer the search in the demo's
# own namespace, and the demo leaves the real working folder alone.
cp "$work/SysCfg.ini" "$tmp/syscfg.before"
out=$(run cardsetup-demo cardctl search --local 127.0.0.1) || fail "cardsetup-demo: $out"
echo "$out"
[ "$(grep -c '^127\.0\.0\.1[0-2] ' <<< "$out")" -eq 3 ] || fail "cardsetup-demo did not find three cards"
cmp "$work/SysCfg.ini" "$tmp/syscfg.before" || fail "the demo changed the real SysCfg.ini"
tree > "$tmp/after"
diff "$tmp/before" "$tmp/after" || fail "the demo wrote inside the unpacked packages"
echo "packages checked: $(basename "$main") $(basename "$demo")"

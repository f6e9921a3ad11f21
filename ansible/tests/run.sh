#!/usr/bin/env bash
# The collection against virtual cards: two sites as two hosts on this
# machine (ansible_connection: local), their cards cardsim processes on
# loopback addresses, all inside a private network namespace.
#
#   ansible/tests/run.sh [BUILD_DIR]      (default: build)
#
# Checks: every module's documentation renders; the collection builds and
# ansible-lint passes on it (when installed); --check --diff sends nothing
# and shows the fields; the first run changes the cards and their records
# hold the settings; the second run is ok and sends no line that changes a
# card; a card that refuses connections fails its site while the other
# completes; a search finds the segment's cards; the example playbooks back
# every card up into a folder per site and restore them back to equal; the
# network settings are never restored onto several cards.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
collection=$(dirname "$here")
root=$(dirname "$collection")
build=$(cd "${1:-$root/build}" && pwd)

if [ -z "${CARD_ANSIBLE_NETNS:-}" ]; then
  exec env CARD_ANSIBLE_NETNS=1 unshare -n "$0" "$build"
fi
ip link set lo up

work=$(mktemp -d)
sims=()
cleanup() {
  for pid in "${sims[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}
step() { echo "== $(date +%T) $*"; }

# The collection where ansible looks for it; everything ansible keeps, in $work.
mkdir -p "$work/collections/ansible_collections/ledcards" "$work/home" "$work/tmp"
ln -s "$collection" "$work/collections/ansible_collections/ledcards/cards"
export ANSIBLE_COLLECTIONS_PATH="$work/collections" ANSIBLE_HOME="$work/home" ANSIBLE_LOCAL_TEMP="$work/tmp"
# Modules piped to python rather than copied to a file first: a third quicker.
export ANSIBLE_PIPELINING=1
export ANSIBLE_NOCOLOR=1 ANSIBLE_RETRY_FILES_ENABLED=0 ANSIBLE_DEPRECATION_WARNINGS=0 ANSIBLE_STDOUT_CALLBACK=default
export PATH="$build:$PATH"
# cardctl's pauses at a fifth of their length. The end-to-end tests' twentieth
# left too little time for a card's program directory to arrive on a machine
# busy with other builds; the playbooks' own time dwarfs cardctl's anyway.
export CARD_CLOCK_SCALE=${CARD_CLOCK_SCALE:-0.2}

# A cardsim per site (and one refusing card), each with its state and wire log.
start_sim() {
  local name=$1
  shift
  "$build/cardsim" --state "$work/$name" --wire-log "$work/$name.log" --boot-ms 200 "$@" >"$work/$name.out" 2>&1 &
  sims+=($!)
  for _ in $(seq 100); do
    grep -q ready "$work/$name.out" && return 0
    sleep 0.05
  done
  fail "cardsim $name did not start: $(cat "$work/$name.out")"
}
# Both sites' cards in one cardsim, so that each has its own MAC (a search
# tells cards apart by it): the north's are its cards 0 and 1, the south's 2 and 3.
start_sim signs --address 127.0.0.10 --address 127.0.0.11 --address 127.0.0.20 --address 127.0.0.21

# Byte counts of the wire logs, to look at what came after.
mark() { stat -c %s "$work/signs.log"; }
# Fails when any line that changes a card (a set, a file transfer, a restart)
# reached a card since the mark; queries may come.
no_writes_since() {
  python3 - "$work" "$1" <<'PY'
import json, sys
work, mark = sys.argv[1], int(sys.argv[2])
sent = {}
with open('%s/signs.log' % work, 'rb') as f:
    f.seek(mark)
    for line in f.read().decode('utf-8', 'replace').splitlines():
        entry = json.loads(line)
        if 'rx' in entry:
            key = (entry['card'], entry['port'])
            sent[key] = sent.get(key, '') + entry['rx']
bad = [(k, s) for k, s in sent.items()
       if any(w in s for w in ('set ', 'file cmd', 'file program', 'reset'))]
for (card, port), s in bad:
    print('%s:%d received %r' % (card, port, s[:200]), file=sys.stderr)
sys.exit(1 if bad else 0)
PY
}
# The byte at offset in a card's own record: record_byte CARD OFFSET
record_byte() {
  python3 -c 'import sys; print(open(sys.argv[1], "rb").read()[int(sys.argv[2])])' \
    "$work/signs/card0$1/record.bin" "$2"
}
# Waits until a card's record holds value at offset, as the card saves it
# after acting on the lines: holds CARD OFFSET VALUE
holds() {
  for _ in $(seq 50); do
    [ "$(record_byte "$1" "$2")" = "$3" ] && return 0
    sleep 0.1
  done
  fail "card $1: $(record_byte "$1" "$2") at $2, expected $3"
}
# Runs a playbook; its output in $work/last.out, the exit status in $rc.
play() {
  rc=0
  ansible-playbook "$@" >"$work/last.out" 2>&1 || rc=$?
}
# The recap numbers of a host: recap HOST FIELD
recap() {
  sed -n "s/^$1 *: .*$2=\([0-9]*\).*/\1/p" "$work/last.out"
}
expect_recap() {
  local host=$1 field=$2 want=$3 got
  got=$(recap "$host" "$field")
  [ "$got" = "$want" ] || { cat "$work/last.out"; fail "$host: $field=$got, expected $want"; }
}

inventory="$here/inventory.yml"
settings="$here/playbooks/settings.yml"

step "the documentation of every module renders"
for module in "$collection"/plugins/modules/*.py; do
  name=ledcards.cards.$(basename "$module" .py)
  ansible-doc -t module "$name" >"$work/doc.out" 2>&1 || { cat "$work/doc.out"; fail "ansible-doc $name"; }
  for part in OPTIONS EXAMPLES "RETURN VALUES"; do
    grep -q "^$part" "$work/doc.out" || { cat "$work/doc.out"; fail "ansible-doc $name has no $part"; }
  done
  ! grep -qi "warning\|error" "$work/doc.out" || { cat "$work/doc.out"; fail "ansible-doc $name complains"; }
done

step "the collection builds"
(cd "$work" && ansible-galaxy collection build "$collection" >"$work/build.out" 2>&1) || { cat "$work/build.out"; fail "build"; }
tar tzf "$work/ledcards-cards-1.0.0.tar.gz" >"$work/build.list"
grep -q '^plugins/modules/card_settings.py$' "$work/build.list" || fail "the build lacks the modules"

if command -v ansible-lint >/dev/null; then
  step "ansible-lint: the collection, its example and test playbooks"
  (cd "$collection" && ansible-lint --offline --nocolor --profile production) >"$work/lint.out" 2>&1 ||
    { cat "$work/lint.out"; fail "ansible-lint"; }
fi

step "check mode with diff: the fields shown, nothing sent"
m=$(mark)
play -i "$inventory" "$settings" --check --diff
[ "$rc" = 0 ] || { cat "$work/last.out"; fail "check run exit $rc"; }
expect_recap site_north changed 1
expect_recap site_south changed 1
grep -q '^-brightness: 15$' "$work/last.out" && grep -q '^+brightness: 25$' "$work/last.out" &&
  grep -q '^+scan: 1/8$' "$work/last.out" && grep -q '^+server_heartbeat_interval: 20$' "$work/last.out" ||
  { cat "$work/last.out"; fail "the diff does not show the fields"; }
no_writes_since "$m" || fail "check mode sent lines that change a card"

step "first run: changed, the cards' records hold the settings"
play -i "$inventory" "$settings"
[ "$rc" = 0 ] || { cat "$work/last.out"; fail "first run exit $rc"; }
expect_recap site_north changed 1
expect_recap site_south changed 1
# brightness at 36, scan at 204 of the card's record.
for i in 0 1; do
  holds $i 36 25
  holds $i 204 8
  holds $((i + 2)) 36 9
done

step "second run: ok, nothing that changes a card on the wire"
m=$(mark)
play -i "$inventory" "$settings" --diff
[ "$rc" = 0 ] || { cat "$work/last.out"; fail "second run exit $rc"; }
expect_recap site_north changed 0
expect_recap site_south changed 0
no_writes_since "$m" || fail "the second run sent lines that change a card"

step "a card that refuses connections fails its site; the other completes"
start_sim refusing --address 127.0.0.30 --refuse
play -i "$here/inventory-refusing.yml" "$settings"
[ "$rc" != 0 ] || { cat "$work/last.out"; fail "a refusing card went unnoticed"; }
expect_recap site_north failed 0
expect_recap site_north changed 1
expect_recap site_south failed 1
grep -q 'fatal: \[site_south\].*1 of 3 card(s) did not take the settings: 127.0.0.30: ' "$work/last.out" ||
  { cat "$work/last.out"; fail "no clear message for the refusing card"; }
holds 0 36 26
holds 3 36 26
kill "${sims[1]}"
wait "${sims[1]}" 2>/dev/null || true

step "facts: a search finds the segment's cards; one that cannot be read is named"
play -i "$inventory" "$here/playbooks/facts.yml"
[ "$rc" = 0 ] || { cat "$work/last.out"; fail "facts exit $rc"; }

step "the example playbook: rollout, then a backup per site on the control node"
examples="$collection/examples"
vars=(-e "backup_root=$work/backups" -e "sign_backup_dir=$work/hosts")
play -i "$inventory" "$examples/site.yml" "${vars[@]}"
[ "$rc" = 0 ] || { cat "$work/last.out"; fail "site.yml exit $rc"; }
for f in site_north/127.0.0.10 site_north/127.0.0.11 site_south/127.0.0.20 site_south/127.0.0.21; do
  [ -s "$work/backups/$f.snap" ] || fail "no backup $f.snap"
done
cardctl diff "$work/backups/site_south/127.0.0.21.snap" 127.0.0.21 >/dev/null 2>&1 || fail "the backup differs from its card"
play -i "$inventory" "$examples/site.yml" "${vars[@]}"
expect_recap site_north changed 0

step "a restore with the network settings onto several cards is refused, nothing sent"
m=$(mark)
rc=0
ansible -i "$inventory" site_north -m ledcards.cards.card_restore -a "{\"src\": \"$work/hosts/site_north/127.0.0.10.snap\",
  \"cards\": [\"127.0.0.10-11\"], \"with_network\": true}" >"$work/last.out" 2>&1 || rc=$?
[ "$rc" = 2 ] && grep -q 'cardctl clone refused: --with-network' "$work/last.out" ||
  { cat "$work/last.out"; fail "several cards were given one network identity"; }
no_writes_since "$m" || fail "the refused restore sent lines"

step "restore: changed cards back to equal with their backups"
cardctl apply - 127.0.0.10-11 127.0.0.20-21 --yes <<<'{"brightness": 3, "scan": "1/16"}' >"$work/apply.out" 2>&1 ||
  { cat "$work/apply.out"; fail "changing the cards"; }
play -i "$inventory" "$examples/restore.yml" "${vars[@]}" --check --diff
grep -q '^+brightness: 25$' "$work/last.out" || { cat "$work/last.out"; fail "restore --check --diff shows no field"; }
play -i "$inventory" "$examples/restore.yml" "${vars[@]}"
[ "$rc" = 0 ] || { cat "$work/last.out"; fail "restore.yml exit $rc"; }
expect_recap site_north changed 1
for f in site_north/127.0.0.10 site_north/127.0.0.11 site_south/127.0.0.20 site_south/127.0.0.21; do
  card=$(basename "$f")
  cardctl diff "$work/backups/$f.snap" "$card" >"$work/diff.out" 2>&1 || { cat "$work/diff.out"; fail "$card differs from its backup"; }
done
play -i "$inventory" "$examples/restore.yml" "${vars[@]}"
expect_recap site_north changed 0
expect_recap site_south changed 0

echo "ansible tests passed"

#!/usr/bin/env bash
# Builds the tool and starts it against three virtual cards, with the same
# command the cardsetup-demo package installs (packaging/cardsetup-demo):
# the cards and the tool in a private network namespace with only a
# loopback interface, the window on your desktop (or on Xvfb without one).
# The build tree's subsys/SysCfg.ini gets ServerIP=127.0.0.1; the cards keep
# their settings in build/demo/cards, the wire log is build/demo/wire.log.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh
cmake --preset default
cmake --build --preset default

exec packaging/cardsetup-demo --tool-dir build --cards-dir build/demo/cards --logs-dir build/demo "$@"

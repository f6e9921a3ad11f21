#!/usr/bin/env bash
# Builds the tool and starts it against a few virtual cards.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh
cmake --preset default
cmake --build --preset default
echo "The build is ready. The main window and the virtual cards are not part of it yet;"
echo "this command will start them once they exist."

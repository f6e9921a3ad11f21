#!/usr/bin/env bash
# Builds the Debian packages cardsetup and cardsetup-demo into
# build/packages/ (the CMake target "package", CPack's DEB generator).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh
# Files and folders in the packages get their modes from the umask.
umask 022
cmake --preset default
cmake --build --preset default --target package
ls -1 build/packages/*.deb

#!/usr/bin/env bash
# Repaints every image in veri/ with artgen. The output is deterministic, so a clean
# `git status` afterwards means the committed images match the painter's source.
#   tools/artgen/regen.sh [BUILD_DIR]     (default: build)
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}
cmake --build "$build" --target artgen
"$build/bin/artgen" veri veri/font

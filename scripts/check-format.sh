#!/usr/bin/env bash
# Fails when a C++ source differs from what clang-format makes of it.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t sources < <(git ls-files -co --exclude-standard -- '*.cpp' '*.h')
[ ${#sources[@]} -eq 0 ] && exit 0
clang-format --dry-run --Werror "${sources[@]}"

#!/usr/bin/env bash
# Installs what is missing, builds, and runs the server in the foreground on
# port 8010, serving ./demo-store (filled with sample flight files when it is
# new). Stop it with Ctrl-C.
set -euo pipefail
cd "$(dirname "$0")"

scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j "$(nproc)" --target sqv64 sqv64ctl

store="$PWD/demo-store"
if [ ! -d "$store" ]; then
  mkdir -p "$store"
  build/sqv64ctl sample "$store"
fi
echo "Serving $store on port 8010; Ctrl-C stops the server."
# The server takes its folder from its image path, as the installed
# service does from its registration.
SQV64_IMAGE_PATH="$store/sqv64" exec build/sqv64

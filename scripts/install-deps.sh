#!/usr/bin/env bash
# Installs the Debian packages that building and testing SQV64 on Linux
# needs, or the packages named as arguments (the Windows scripts name
# theirs). Idempotent, and quiet when everything is already there.
#
#   scripts/install-deps.sh [PACKAGE...]
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config clang-format
  libgtest-dev libgmock-dev
  zlib1g-dev libexpat1-dev libasio-dev libcurl4-openssl-dev nlohmann-json3-dev
  python3-pyftpdlib nginx openssl systemd locales
  clang-14 libclang-rt-14-dev
)
[ $# -gt 0 ] && packages=("$@")

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get -o DPkg::Lock::Timeout=600 update -qq
$sudo apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends \
  "${missing[@]}" >/dev/null

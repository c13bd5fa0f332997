#!/usr/bin/env bash
# Installs what building and testing Quillbox needs on Debian 12, only what is missing.
set -euo pipefail
packages=(build-essential cmake ninja-build pkg-config libgtest-dev libgmock-dev googletest
          libbenchmark-dev clang-14 libclang-rt-14-dev libmodbus-dev libcli11-dev mbpoll
          python3-pymodbus nlohmann-json3-dev libtoml11-dev
          libcpp-httplib-dev python3 chromium dpkg-dev man-db python3-pytest doxygen)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then sudo=sudo; else sudo=; fi
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi

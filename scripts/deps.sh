#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when missing.
set -eu
need=()
for pkg in cmake ninja-build g++ libgtest-dev libedit-dev libpixman-1-dev libpng-dev libbenchmark-dev libsdl2-dev libavcodec-dev libfreetype-dev libfontconfig-dev fonts-dejavu-core fonts-dejavu-extra pkg-config diffutils; do
  dpkg -s "$pkg" >/dev/null 2>&1 || need+=("$pkg")
done
command -v python3 >/dev/null 2>&1 || need+=(python3)
if [ ${#need[@]} -gt 0 ]; then
  echo "installing: ${need[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q >/dev/null 2>&1 || true
  apt-get install -y -q "${need[@]}"
fi

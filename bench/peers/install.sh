#!/usr/bin/env bash
# Installs the peer interpreters the benchmarks compare against, when missing.
set -eu
need=()
for pkg in scm elk tinyscheme guile-3.0 chezscheme gambc chicken-bin lua5.4 swi-prolog-nox gprolog valgrind time; do
  dpkg -s "$pkg" >/dev/null 2>&1 || need+=("$pkg")
done
if [ ${#need[@]} -gt 0 ]; then
  echo "installing peers: ${need[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q >/dev/null 2>&1 || true
  apt-get install -y -q "${need[@]}" >/dev/null
fi

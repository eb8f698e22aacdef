#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, when
# any of them is missing. Run as root (or through sudo) on Debian 12.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libspdlog-dev libfmt-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev qt6-base-dev-tools libgl-dev libserialport-dev
  xvfb xauth fonts-liberation
  dpkg-dev file  # cpack -G DEB: dpkg-shlibdeps and the ELF check before it
  clang libclang-rt-14-dev  # scripts/fuzz.sh: clang with libFuzzer and the sanitizer run-times
  jq groff-base  # the README's quorvexctl example, run by a test, and the manual page's check
  python3-pyvisa python3-pyvisa-py python3-pymeasure  # the quorvex Python package and its test
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi

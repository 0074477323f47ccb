#!/usr/bin/env bash
# Installs everything ZELKO needs to build, test, fuzz and benchmark on Debian 12
# (run as root). Only Debian packages.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends \
    cmake make g++ python3 \
    qt6-base-dev qt6-serialport-dev \
    libgtest-dev \
    xvfb xauth \
    clang libclang-rt-14-dev \
    gcc-avr avr-libc binutils-avr srecord >/dev/null

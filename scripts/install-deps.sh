#!/usr/bin/env bash
# Installs every Debian package the project needs to build, run and test.
# Idempotent: packages already present are skipped quickly.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config clang-format dpkg-dev
  qt6-base-dev qt6-base-dev-tools libgl-dev libxcb1-dev
  librtaudio-dev librtmidi-dev libsndfile1-dev libsmf-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  jackd2 libjack-jackd2-dev
  clang libclang-rt-14-dev
  sox xvfb xauth imagemagick x11-utils openbox xdotool
  alsa-utils timgm6mb-soundfont fluid-soundfont-gm musescore-general-soundfont-small fluidsynth
  openttd-openmsx time
  python3-numpy
)

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
# jackd2 asks whether to enable real-time priority; answer for it.
echo "jackd2 jackd/tweak_rt_limits boolean false" | $SUDO debconf-set-selections
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"

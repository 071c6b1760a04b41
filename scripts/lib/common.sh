# Shared by scripts/run and scripts/test: installs what is missing and
# builds a configuration of the project. Sourced, not executed.

VELUMAR_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
VELUMAR_JOBS="$(nproc 2>/dev/null || echo 2)"

# Debian packages that building and running the programs need (scripts/run).
# Unversioned names only: the same lists serve Debian 12 and 13.
VELUMAR_PACKAGES=(
  cmake g++ make pkg-config
  nlohmann-json3-dev libsndfile1-dev libsoxr-dev libfftw3-dev
  qt6-base-dev qt6-charts-dev libqt6opengl6-dev qt6-translations-l10n fonts-liberation
)

# What only the tests, benchmarks and fuzzers need on top of those
# (scripts/test installs both lists).
VELUMAR_TEST_PACKAGES=(
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-dev
  xvfb xauth chromium
  lame opus-tools flac
  python3-dev pybind11-dev python3-numpy python3-pytest python3-distributed dpkg-dev
)

velumar_missing_packages() {
  local pkg
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || echo "$pkg"
  done
}

velumar_install() {
  local missing
  missing=$(velumar_missing_packages "$@")
  [ -z "$missing" ] && return 0
  echo "Installing: $missing"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  # shellcheck disable=SC2086
  $sudo apt-get install -y -qq --no-install-recommends $missing
}

# velumar_configure DIR [cmake options...]: configure a build directory.
velumar_configure() {
  local dir="$1"; shift
  cmake -S "$VELUMAR_ROOT" -B "$dir" "$@" >/dev/null
}

# velumar_build DIR [cmake options...]: configure (once) and build everything.
velumar_build() {
  local dir="$1"; shift
  velumar_configure "$dir" "$@"
  cmake --build "$dir" -j "$VELUMAR_JOBS"
}

# velumar_build_targets DIR TARGET...: build only these targets of a
# configured directory.
velumar_build_targets() {
  local dir="$1"; shift
  cmake --build "$dir" -j "$VELUMAR_JOBS" --target "$@"
}

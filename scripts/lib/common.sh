# Shared by scripts/run and scripts/test: installs what is missing and
# builds a configuration of the project. Sourced, not executed.

VELUMAR_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
VELUMAR_JOBS="$(nproc 2>/dev/null || echo 2)"

# Debian packages the build, the tests and the fuzzers need.
VELUMAR_PACKAGES=(
  cmake g++ make pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev qt6-charts-dev libqt6opengl6-dev nlohmann-json3-dev
  libfftw3-dev
  python3-dev pybind11-dev python3-numpy python3-pytest python3-distributed
  clang libclang-rt-14-dev
  libsndfile1-dev libsoxr-dev lame opus-tools
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

# velumar_build DIR [cmake options...]: configure (once) and build.
velumar_build() {
  local dir="$1"; shift
  cmake -S "$VELUMAR_ROOT" -B "$dir" "$@" >/dev/null
  cmake --build "$dir" -j "$VELUMAR_JOBS"
}

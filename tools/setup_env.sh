# SPDX-License-Identifier: GPL-2.0-or-later
# Sourced by the scripts in tools/: installs the system packages when missing (as root, from
# Debian), creates the virtualenv .venv and installs the Python build and test dependencies.
missing=()
for pkg in g++ cmake ninja-build pkg-config libfftw3-dev libgtest-dev libbenchmark-dev python3-venv python3-dev; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
done
if ((${#missing[@]})); then
  # Tools already on PATH (a pip-installed cmake or ninja, a non-Debian Python) are good enough.
  need=()
  for pkg in "${missing[@]}"; do
    case "$pkg" in
      cmake) command -v cmake >/dev/null || need+=("$pkg") ;;
      ninja-build) command -v ninja >/dev/null || need+=("$pkg") ;;
      g++) command -v g++ >/dev/null || need+=("$pkg") ;;
      python3-venv|python3-dev) python3 -c 'import venv, sysconfig, os; assert os.path.exists(sysconfig.get_paths()["include"] + "/Python.h")' 2>/dev/null || need+=("$pkg") ;;
      *) need+=("$pkg") ;;
    esac
  done
  if ((${#need[@]})); then
    echo "== installing system packages: ${need[*]}"
    SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO="sudo"
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${need[@]}" >/dev/null
  fi
fi
if [ ! -x .venv/bin/python ]; then
  python3 -m venv .venv
fi
# shellcheck disable=SC1091
source .venv/bin/activate
python -m pip install -q --upgrade pip >/dev/null 2>&1 || true
python -m pip install -q "numpy" "soundfile" "soxr" "tqdm" "pytest" "nanobind>=2.0" "scikit-build-core>=0.11" "cmake>=3.22" "ninja" "build"

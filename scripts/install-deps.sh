#!/bin/sh
# Installs what the project needs on a fresh Debian 12 machine (run as root;
# does nothing for packages already present).
#   sh scripts/install-deps.sh          what building and running vxrun needs
#   sh scripts/install-deps.sh --test   that, and what the test suite needs
# apt's output goes to a log file, shown only when apt fails.
set -eu
# Building the library and vxrun (the release build the demo makes).
build="cmake g++ make pkg-config libdeflate-dev libmsnumpress-dev libcli11-dev
  libnetcdf-dev"
# The tests: GoogleTest, the oracles and renderers they compare with, the
# sanitizer and fuzzing toolchain, the Python package's stack, the workflow
# engine and a one-node SLURM cluster, a headless browser for the report.
test="googletest libgtest-dev libgmock-dev locales netcdf-bin topp
  python3-numpy python3-pymzml librsvg2-bin clang libclang-rt-14-dev binutils
  python3-pytest python3-pandas python3-matplotlib python3-scipy
  snakemake slurm-wlm munge
  chromium chromium-driver python3-selenium"
case "${1:-}" in
  "") packages=$build ;;
  --test) packages="$build $test" ;;
  *) echo "usage: install-deps.sh [--test]" >&2; exit 64 ;;
esac
missing=""
for p in $packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
  if [ "$(id -u)" != 0 ]; then
    echo "missing packages:$missing (run as root or install them)" >&2
    exit 1
  fi
  log=$(mktemp "${TMPDIR:-/tmp}/install-deps.XXXXXX")
  echo "installing:$missing (apt's log: $log)"
  if ! { apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y $missing; } \
      > "$log" 2>&1; then
    cat "$log" >&2
    echo "install-deps.sh: apt-get failed; its log is above and in $log" >&2
    exit 1
  fi
  rm -f "$log"
fi
[ "${1:-}" = --test ] || exit 0
# A decimal-comma locale lets the tests prove that numbers ignore the locale.
if ! locale -a 2>/dev/null | grep -qi '^de_DE.utf8$'; then
  if [ "$(id -u)" = 0 ]; then
    grep -q '^de_DE.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null || echo 'de_DE.UTF-8 UTF-8' >> /etc/locale.gen
    locale-gen >/dev/null 2>&1 || true
  fi
fi

#!/bin/sh
# Installs what the project needs on a fresh Debian 12 machine (run as root;
# does nothing for packages already present).
set -eu
packages="cmake g++ make pkg-config googletest libgtest-dev libgmock-dev
  libdeflate-dev libmsnumpress-dev libcli11-dev libnetcdf-dev locales
  netcdf-bin topp
  python3-numpy python3-pymzml librsvg2-bin clang libclang-rt-14-dev binutils
  python3-pytest python3-pandas python3-matplotlib python3-scipy
  snakemake slurm-wlm munge
  chromium chromium-driver python3-selenium"
missing=""
for p in $packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
  if [ "$(id -u)" != 0 ]; then
    echo "missing packages:$missing (run as root or install them)" >&2
    exit 1
  fi
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $missing
fi
# A decimal-comma locale lets the tests prove that numbers ignore the locale.
if ! locale -a 2>/dev/null | grep -qi '^de_DE.utf8$'; then
  if [ "$(id -u)" = 0 ]; then
    grep -q '^de_DE.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null || echo 'de_DE.UTF-8 UTF-8' >> /etc/locale.gen
    locale-gen >/dev/null 2>&1 || true
  fi
fi

#!/bin/sh
# Installs the build into a scratch prefix, then builds the C test program
# against the installed header and runs it on the installed plugin, found
# both through pkg-config and through the CMake package.
set -eu
build="$1"; src="$2"
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null

plugin=$(PKG_CONFIG_PATH="$prefix/lib/pkgconfig" pkg-config --variable=plugin vx_velloran_steps)
cflags=$(PKG_CONFIG_PATH="$prefix/lib/pkgconfig" pkg-config --cflags vx_velloran_steps)
test -f "$plugin"
cc -std=c99 -pedantic -Wall -Werror $cflags "$src/tests/registry/c_abi_test.c" -o "$prefix/c_abi" -ldl
"$prefix/c_abi" "$plugin"

mkdir -p "$prefix/consumer"
cat > "$prefix/consumer/CMakeLists.txt" <<'CM'
cmake_minimum_required(VERSION 3.25)
project(consumer C)
find_package(vx_velloran_steps REQUIRED)
add_executable(c_abi ${ABI_SOURCE})
target_link_libraries(c_abi PRIVATE vx_velloran_steps::header)
file(WRITE ${CMAKE_BINARY_DIR}/plugin_path.txt "${VX_VELLORAN_STEPS_PLUGIN}")
CM
cmake -S "$prefix/consumer" -B "$prefix/consumer/build" -DCMAKE_PREFIX_PATH="$prefix" \
  -DABI_SOURCE="$src/tests/registry/c_abi_test.c" >/dev/null
cmake --build "$prefix/consumer/build" >/dev/null
"$prefix/consumer/build/c_abi" "$(cat "$prefix/consumer/build/plugin_path.txt")"
test -x "$prefix/bin/vxrun"
"$prefix/bin/vxrun" list | grep -q OperationStepDemo
# The installed Python package finds the plugin and its companion libraries
# (four targets take the compact documents' path).
env -u VX_STEPS_LIBRARY -u VX_PEAKS_LIBRARY -u VX_COMPACT_LIBRARY \
  PYTHONPATH="$(echo "$prefix"/lib/python3*/dist-packages)" PYTHONDONTWRITEBYTECODE=1 \
  /usr/bin/python3 -c "
import sys, vx_steps
rows = vx_steps.batch_rows(sys.argv[1], [(73, 1.178), (147, 1.1869), (207, 1.4348), (999, 1.2)])
assert [r['status'] for r in rows] == ['ok'] * 4, rows
assert [r['trace_points'] for r in rows] == [211, 211, 211, 0], rows
" "$src/examples/sim_basic.mzML"
echo "install ok"

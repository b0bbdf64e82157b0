#!/bin/sh
# Fails when a file in a host/ layer includes a header of a layer it may not
# use. The allowed uses are listed here once, lowest layer first; ctest runs
# this, so the order holds even if the CMake include paths change. formats,
# peaks and ident are reserved between base and tables.
# Usage: scripts/check_layers.sh [HOST_DIR]   (default: host/ of this tree)
set -eu
host=${1:-$(dirname "$0")/../host}
allowed() {
  case $1 in
    base) echo "" ;;
    plugin) echo "base" ;;
    formats | peaks | ident) echo "base" ;;
    tables) echo "base formats peaks ident" ;;
    chain) echo "tables plugin base formats peaks ident" ;;
    quant) echo "tables base formats peaks ident" ;;
    figures) echo "chain quant tables plugin base formats peaks ident" ;;
    report) echo "figures chain quant tables plugin base formats peaks ident" ;;
    cli) echo "report figures chain quant tables plugin base formats peaks ident" ;;
    *) echo "?" ;;
  esac
}
status=0
for dir in "$host"/*/; do
  layer=$(basename "$dir")
  uses=$(allowed "$layer")
  if [ "$uses" = "?" ]; then
    echo "host/$layer: not a known layer (add it to scripts/check_layers.sh)"
    status=1
    continue
  fi
  for file in "$dir"*.hpp "$dir"*.cpp "$dir"*.in; do
    [ -f "$file" ] || continue
    # Every quoted include; a header found in another layer's folder must be
    # one of the allowed layers.
    for header in $(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file"); do
      name=$(basename "$header")
      [ -f "$dir$name" ] && continue
      for other in "$host"/*/; do
        owner=$(basename "$other")
        [ -f "$other$name" ] || continue
        case " $uses " in
          *" $owner "*) ;;
          *)
            echo "host/$layer/$(basename "$file"): includes $header from host/$owner," \
              "which $layer may not use (allowed: ${uses:-nothing})"
            status=1
            ;;
        esac
      done
    done
  done
done
[ $status -eq 0 ] && echo "host layers: every include points down"
exit $status

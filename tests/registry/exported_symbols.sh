#!/bin/sh
# Fails unless the plugin's dynamic symbol table defines exactly the two entry
# functions (plus the version node the version script adds).
set -eu
lib="$1"
got=$(nm -D --defined-only "$lib" | awk '{print $NF}' | grep -v '^VX_' | sort | tr '\n' ' ')
want="vx_list_steps vx_resolve_step "
if [ "$got" != "$want" ]; then
  echo "exported: $got"
  echo "expected: $want"
  exit 1
fi
echo "exports ok: $got"

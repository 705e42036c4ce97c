#!/usr/bin/env bash
# Fails when a file under src/ includes a header of a layer above its own or
# of a sibling layer. The allowed directions are written at the top of the
# root CMakeLists.txt.
set -u
src=${1:?usage: check_includes.sh SRC_DIR}
declare -A rank=([core]=0 [engine]=1 [midi]=2 [io]=2 [edit]=2 [platform]=3 [ui]=4 [app]=5)

bad=0
while IFS= read -r -d '' file; do
    layer=${file#"$src"/}
    layer=${layer%%/*}
    [ -n "${rank[$layer]:-}" ] || continue
    while IFS= read -r target; do
        if [ "$target" != "$layer" ] && [ "${rank[$target]:--1}" -ge "${rank[$layer]}" ]; then
            echo "${file#"$src"/}: includes $target/ (layer $layer may include only layers below it)"
            bad=1
        fi
    done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([a-z_]*\)\/.*/\1/p' "$file")
done < <(find "$src" -type f \( -name '*.h' -o -name '*.cpp' \) -print0)

[ "$bad" -eq 0 ] || { echo "wrong-way includes found"; exit 1; }
echo "every include points down the layers"

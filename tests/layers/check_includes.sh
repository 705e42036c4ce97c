#!/usr/bin/env bash
# Fails when a file under src/ includes a header of a layer above its own or
# of a sibling layer. The allowed directions are written at the top of the
# root CMakeLists.txt.
set -u
src=${1:?usage: check_includes.sh SRC_DIR}

rank() {
    case $1 in
        core) echo 0 ;;
        engine) echo 1 ;;
        midi | io | edit) echo 2 ;;
        platform) echo 3 ;;
        ui) echo 4 ;;
        app) echo 5 ;;
        *) echo -1 ;;
    esac
}

bad=0
while IFS= read -r -d '' file; do
    layer=${file#"$src"/}
    layer=${layer%%/*}
    own=$(rank "$layer")
    [ "$own" -ge 0 ] || continue
    while IFS= read -r target; do
        [ "$target" = "$layer" ] && continue
        theirs=$(rank "$target")
        [ "$theirs" -ge 0 ] || continue
        if [ "$theirs" -ge "$own" ]; then
            echo "${file#"$src"/}: includes $target/ (layer $layer may include only layers below it)"
            bad=1
        fi
    done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([a-z_]*\)\/.*/\1/p' "$file")
done < <(find "$src" -type f \( -name '*.h' -o -name '*.cpp' \) -print0)

if [ "$bad" -ne 0 ]; then
    echo "wrong-way includes found"
    exit 1
fi
echo "every include points down the layers"

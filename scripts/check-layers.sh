#!/usr/bin/env bash
# The folders of src/ are layers, bottom to top. A file may include headers of its
# own folder and of folders below it, never of one above. Prints every include that
# breaks this (file:line: include) and fails; silent when all hold.
set -euo pipefail
cd "$(dirname "$0")/.."
root=src

layers=(platform usage providers accounts panel windows settings app)

declare -A rank
for i in "${!layers[@]}"; do rank[${layers[$i]}]=$i; done

# The include as it stands in the file, without indentation or a trailing comment.
written() { sed -E 's/^[[:space:]]+//; s/[[:space:]]*(\/\/.*)?$//' <<<"$1"; }

status=0
while IFS= read -r -d '' file; do
    folder=${file#"$root"/}
    folder=${folder%%/*}
    if [ -z "${rank[$folder]+set}" ]; then
        echo "$file: folder '$folder' is not a layer (layers: ${layers[*]})"
        status=1
        continue
    fi
    own=${rank[$folder]}
    lineno=0
    while IFS= read -r line; do
        lineno=$((lineno + 1))
        [[ $line =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*[\"\<]([^\"\>]+)[\"\>] ]] || continue
        target=${BASH_REMATCH[1]}
        if [[ $target == *../* ]]; then
            echo "$file:$lineno: $(written "$line"): climbs out of its folder; name the layer instead"
            status=1
            continue
        fi
        [[ $target == */* ]] || continue
        to=${target%%/*}
        [ -n "${rank[$to]+set}" ] || continue
        if [ "${rank[$to]}" -gt "$own" ]; then
            echo "$file:$lineno: $(written "$line"): $folder/ may not include $to/ (above it)"
            status=1
        fi
    done < "$file"
done < <(find "$root" -type f \( -name '*.h' -o -name '*.cpp' -o -name '*.h.in' \) -print0 | sort -z)

if [ "$status" -ne 0 ]; then
    echo "layer order, bottom to top: ${layers[*]}"
fi
exit "$status"

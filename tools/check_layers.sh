#!/usr/bin/env bash
# The layers stay as the build states them. Each folder src/<layer>/ is one library, declared in
# CMakeLists.txt by `kestrel_layer(<layer> kestrel_<lower> ...)`, naming the layers it links.
# A file of src/<layer>/ may include headers of its own layer, of the layers it names and of the
# layers those name in turn (the links are public, so they pass on); any other header of src/
# (a higher layer, or one the layer does not link) is reported with the file, the line and the
# layers allowed. A folder of src/ without a kestrel_layer call is reported too, except src/app,
# the program, which links every layer. The layering is written once, in CMakeLists.txt: a new
# layer is a folder and a kestrel_layer line, and needs nothing here.
# usage: check_layers.sh [SOURCE_DIR]   (default: the checkout this script is in)
set -euo pipefail
src=${1:-$(cd "$(dirname "$0")/.." && pwd)}
cd "$src"

# "layer dep dep ..." for every kestrel_layer call (comments dropped, calls over several lines
# joined, libraries that are not layers such as Threads::Threads left out).
declared=$(sed 's/#.*//' CMakeLists.txt | tr '\n' ' ' |
  grep -o 'kestrel_layer([^)]*)' |
  sed -e 's/^kestrel_layer(//' -e 's/)$//' |
  awk '{ printf "%s", $1; for (i = 2; i <= NF; i++) if ($i ~ /^kestrel_/) printf " %s", substr($i, 9); print "" }')
if [ -z "$declared" ]; then
  echo "check_layers: no kestrel_layer call found in $src/CMakeLists.txt" >&2
  exit 1
fi

declare -A direct allowed
for_each_layer() { printf '%s\n' "$declared" | awk '{ print $1 }'; }
while read -r layer deps; do direct[$layer]="$deps"; done <<<"$declared"

# The layers a layer may use: those it names, and theirs, to the bottom.
closure() {
  local todo=("$1") seen=" $1 " l d
  while [ ${#todo[@]} -gt 0 ]; do
    l=${todo[0]}; todo=("${todo[@]:1}")
    for d in ${direct[$l]:-}; do
      if [[ "$seen" != *" $d "* ]]; then seen+="$d "; todo+=("$d"); fi
    done
  done
  echo "$seen"
}
for layer in $(for_each_layer); do allowed[$layer]=$(closure "$layer"); done

bad=0
for dir in src/*/; do
  layer=$(basename "$dir")
  if [ "$layer" = app ]; then continue; fi
  if [ -z "${allowed[$layer]:-}" ]; then
    echo "src/$layer/: no kestrel_layer($layer ...) in CMakeLists.txt: a folder of src/ is a layer" >&2
    bad=$((bad + 1))
    continue
  fi
  while IFS=: read -r file line header; do
    used=${header%%/*}
    [ "$used" = "$header" ] && continue                 # a header beside the file
    [ -d "src/$used" ] || continue                      # not one of ours
    if [[ "${allowed[$layer]}" != *" $used "* ]]; then
      others=$(echo "${allowed[$layer]}" | tr ' ' '\n' | grep -vx -e '' -e "$layer" | tr '\n' ' ')
      echo "$file:$line: includes \"$header\": the layer $layer may include only its own headers" \
           "and those of ${others:-no other layer}(CMakeLists.txt: kestrel_layer($layer ...))" >&2
      bad=$((bad + 1))
    fi
  done < <(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$dir" |
           sed -E 's/^([^:]*):([0-9]+):.*#[[:space:]]*include[[:space:]]*"([^"]*)".*/\1:\2:\3/')
done

if [ "$bad" -gt 0 ]; then
  echo "check_layers: $bad include(s) or folder(s) against the layering of CMakeLists.txt" >&2
  exit 1
fi
echo "check_layers: every include of src/ keeps to the layers of CMakeLists.txt" \
     "($(for_each_layer | wc -l) layers)"

#!/usr/bin/env bash
# Every relative link of README.md and docs/*.md leads somewhere: its file (or folder) exists,
# and a link to a heading (file.md#anchor, or #anchor in the same page) names a heading of that
# page. Anchors are made from headings as the code hosts make them: lower case, everything but
# letters, digits, blanks, hyphens and underscores dropped, blanks as hyphens, a repeated anchor
# numbered -1, -2, ... Links to web addresses are not followed. Fenced code blocks and inline
# code are not read for links.
# usage: check_doc_links.sh [SOURCE_DIR]   (default: the checkout this script is in)
set -euo pipefail
src=${1:-$(cd "$(dirname "$0")/.." && pwd)}
cd "$src"

# The link targets of a page, one "LINE TARGET" a line.
links() {
  awk '
    /^[ \t]*(```|~~~)/ { fenced = !fenced; next }
    fenced { next }
    {
      line = $0
      gsub(/`[^`]*`/, "", line)              # inline code holds no links
      while (match(line, /\]\([^) \t]+\)/)) {
        print FNR, substr(line, RSTART + 2, RLENGTH - 3)
        line = substr(line, RSTART + RLENGTH)
      }
    }' "$1"
}

# The anchors of a page's headings, one a line.
anchors() {
  awk '
    /^[ \t]*(```|~~~)/ { fenced = !fenced; next }
    fenced || !/^#+ / { next }
    {
      h = $0
      sub(/^#+ +/, "", h); sub(/ +#+ *$/, "", h)
      h = tolower(h)
      gsub(/[^a-z0-9 _-]/, "", h)
      gsub(/ /, "-", h)
      if (h in seen) { n = ++seen[h]; print h "-" n } else { seen[h] = 0; print h }
    }' "$1"
}

pages=(README.md docs/*.md)
bad=0
checked=0
for page in "${pages[@]}"; do
  dir=$(dirname "$page")
  while read -r line target; do
    case "$target" in
      http://* | https://* | mailto:*) continue ;;
    esac
    checked=$((checked + 1))
    file=${target%%#*}
    anchor=""
    [[ "$target" == *"#"* ]] && anchor=${target#*#}
    if [ -z "$file" ]; then
      path=$page
    else
      path=$dir/$file
      if [ ! -e "$path" ]; then
        echo "$page:$line: $target: no file $path" >&2
        bad=$((bad + 1))
        continue
      fi
    fi
    if [ -n "$anchor" ]; then
      if [[ "$path" != *.md ]]; then
        echo "$page:$line: $target: an anchor into $path, which is not a Markdown page" >&2
        bad=$((bad + 1))
      elif ! anchors "$path" | grep -qxF -- "$anchor"; then
        echo "$page:$line: $target: $path has no heading with the anchor #$anchor" >&2
        bad=$((bad + 1))
      fi
    fi
  done < <(links "$page")
done

if [ "$bad" -gt 0 ]; then
  echo "check_doc_links: $bad of $checked relative links lead nowhere" >&2
  exit 1
fi
echo "check_doc_links: all $checked relative links of ${#pages[@]} pages resolve"

#!/usr/bin/env bash
# Checks that src/ keeps its floors: a folder includes only its own and lower
# folders, and only xml/ and schema/ include libxml2 or libxslt. Prints each
# include that breaks a rule and exits 1 when there is one.
set -euo pipefail
cd "$(dirname "$0")/../src"
floors=(base xml schema document undo editing tools shell)
rank() { local i; for i in "${!floors[@]}"; do [ "${floors[$i]}" = "$1" ] && { echo "$i"; return; }; done; echo -1; }
bad=0
for dir in "${floors[@]}"; do
  [ -d "$dir" ] || continue
  own=$(rank "$dir")
  while IFS=: read -r file line text; do
    inc=${text#*\"}; inc=${inc%%\"*}
    case $inc in */*) ;; *) continue ;; esac
    to=$(rank "${inc%%/*}")
    if [ "$to" -gt "$own" ]; then
      echo "$dir/$file:$line: $dir/ includes the higher $inc"; bad=1
    fi
  done < <(cd "$dir" && grep -n '^#include "' -- *.h *.cpp 2>/dev/null || true)
  case $dir in xml|schema) continue ;; esac
  if hits=$(cd "$dir" && grep -n '^#include <lib\(xml\|xslt\|exslt\)/' -- *.h *.cpp 2>/dev/null); then
    echo "$hits" | sed "s|^|$dir/|; s|\$|  (libxml2 and libxslt belong to xml/ and schema/)|"; bad=1
  fi
done
for dir in */; do
  dir=${dir%/}
  [ "$(rank "$dir")" -ge 0 ] || { echo "src/$dir/ is no known floor: add it to scripts/check-layers.sh and src/README.md"; bad=1; }
done
exit $bad

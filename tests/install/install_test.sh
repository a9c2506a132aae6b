#!/bin/sh
# Installs the build into a scratch prefix and runs the installed host: it
# must find its plug-in through its RPATH and serve the installed page, and
# the desktop entry must be valid.
set -eu
build=$1
prefix=$(mktemp -d)
pid=
trap '[ -n "$pid" ] && kill "$pid" 2>/dev/null; rm -rf "$prefix"' EXIT

cmake --install "$build" --prefix "$prefix" >/dev/null
echo "<!-- installed copy -->" >> "$prefix/share/velquette/web/index.html"

"$prefix/bin/velquette" --port 0 > "$prefix/url" 2>/dev/null &
pid=$!
for _ in $(seq 50); do [ -s "$prefix/url" ] && break; sleep 0.1; done
url=$(head -n 1 "$prefix/url")
curl -sf "$url" | grep -q "installed copy" || { echo "the installed host did not serve the installed page"; exit 1; }

for file in "$prefix"/share/applications/*.desktop; do
  [ -e "$file" ] || continue
  desktop-file-validate "$file"
  exec_name=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$file")
  [ -x "$prefix/bin/$exec_name" ] || { echo "$file starts $exec_name, which is not installed"; exit 1; }
done
unit="$prefix/lib/systemd/user/velquette.service"
grep -qx "ExecStart=$prefix/bin/velquette" "$unit" || { echo "$unit does not start the installed host"; exit 1; }
echo "installed tree works"

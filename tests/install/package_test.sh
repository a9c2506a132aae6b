#!/bin/bash
# Builds the Debian package from a clean copy of the tree, installs it on this
# machine, checks the installed programs, page, entries, unit and man pages,
# runs lintian, and removes the package again: nothing may be left in /usr.
# Needs root (it installs into /usr); exits 77 (skipped) otherwise.
set -euo pipefail
source_dir=$1
[ "$(id -u)" -eq 0 ] || { echo "not root: the package cannot be installed here"; exit 77; }

scratch=$(mktemp -d)
pid=
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null
  dpkg --purge velquette >/dev/null 2>&1 || true
  rm -rf "$scratch"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }

deb=$("$source_dir/scripts/package" | tail -n 1)
[ -f "$deb" ] || fail "scripts/package made no .deb"

# lintian: errors fail, warnings are listed.
lintian --no-tag-display-limit "$deb" > "$scratch/lintian" 2>&1 || true
cat "$scratch/lintian"
if grep -q '^E:' "$scratch/lintian"; then fail "lintian reports errors"; fi

dpkg --purge velquette >/dev/null 2>&1 || true
find /usr -xdev -not -path '*/__pycache__*' | sort > "$scratch/before"
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$deb" >/dev/null ||
  fail "the package does not install"

version=$(dpkg-deb -f "$deb" Version)
for program in velquette velquette-widget velquette-smc velquette-module-installer; do
  [ "$("/usr/bin/$program" --version)" = "$program $version" ] || fail "$program --version does not say $version"
  "/usr/bin/$program" --help > "$scratch/help" || fail "$program --help fails"
  grep -qi usage "$scratch/help" || fail "$program --help shows no usage"
  man -w "$program" >/dev/null 2>&1 || fail "man finds no page for $program"
done

/usr/bin/velquette --port 0 > "$scratch/url" 2>/dev/null &
pid=$!
for _ in $(seq 100); do [ -s "$scratch/url" ] && break; sleep 0.1; done
curl -sf "$(head -n 1 "$scratch/url")" > "$scratch/page" || fail "the installed host does not answer"
cmp -s "$scratch/page" /usr/share/velquette/web/index.html || fail "the installed host does not serve the installed page"
kill "$pid"; pid=

for entry in /usr/share/applications/org.brackwell.Velquette*.desktop; do
  desktop-file-validate "$entry" || fail "$entry is not a valid desktop entry"
done
unit=/usr/lib/systemd/user/velquette.service
grep -qx "ExecStart=/usr/bin/velquette" "$unit" || fail "$unit does not start /usr/bin/velquette"
if command -v systemd-analyze >/dev/null; then
  # The user manager it starts wants a runtime folder, which a CI shell lacks.
  mkdir -m 700 "$scratch/runtime"
  XDG_RUNTIME_DIR="$scratch/runtime" systemd-analyze --user verify "$unit" > "$scratch/verify" 2>&1 || {
    cat "$scratch/verify"; fail "systemd-analyze rejects $unit"; }
fi

dpkg --purge velquette >/dev/null || fail "the package does not remove"
find /usr -xdev -not -path '*/__pycache__*' | sort > "$scratch/after"
if ! diff "$scratch/before" "$scratch/after" > "$scratch/left"; then
  cat "$scratch/left"
  fail "removing the package left /usr changed"
fi
echo "the package builds, installs, works and leaves nothing behind"

# Shared by scripts/run and scripts/test: configure and build one tree.
# usage: build_tree DIR [cmake options...]
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

build_tree() {
  local dir=$1; shift
  if [ ! -f "$dir/build.ninja" ]; then
    cmake -S "$root" -B "$dir" -G Ninja -DVELQUETTE_WERROR=ON "$@" >/dev/null
  fi
  cmake --build "$dir"
}

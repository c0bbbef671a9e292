#!/usr/bin/env bash
# The whole program against aria2c on one generated game (1 GiB unless a
# size in MiB is given), all on 127.0.0.1: HTTP only with 1 and 4
# connections, and with 4 from servers that close each connection after 3
# answers or after every one, HTTPS (TLS nginx, a test CA trusted in the
# prefix) with 1 and 4, aria2c -x1 and -x4 and over HTTPS -x4, a minute
# waiting with nothing to fetch and a minute held at 256 KiB/s, the swarm
# only, hybrid; and the same Direct-HTTP code built natively, for what Wine
# costs. Prints the figures, with the bytes each file server sent per byte
# of the game.
#   bench/whole_program_bench.sh [--size-mib N] [--compare REV[=LABEL]]...
#                                [--label LABEL] [--skip-aria2] [--skip-idle] [SIZE_MIB]
# --compare REV also builds git revision REV (its own scripts, in a
# worktree under build/compare/) and runs every scenario for it beside this
# tree, the builds taking turns within each scenario; one table per figure
# then has a column per build: the revisions in the order given (named
# LABEL, else REV), then this tree (named --label's LABEL, else "current").
# --skip-aria2 leaves out the aria2c runs, a reference only; --skip-idle
# the two minute-long runs.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root" || exit 1

usage() { sed -n '11,19p' "$0" | sed 's/^# \{0,3\}//' >&2; }
size=1024 label=current skip_aria2=() skip_idle=() compares=()
while [ $# -gt 0 ]; do
  case $1 in
    --size-mib) size=${2:-}; shift 2 || break ;;
    --size-mib=*) size=${1#*=}; shift ;;
    --compare) compares+=("${2:-}"); shift 2 || break ;;
    --compare=*) compares+=("${1#*=}"); shift ;;
    --label) label=${2:-}; shift 2 || break ;;
    --label=*) label=${1#*=}; shift ;;
    --skip-aria2) skip_aria2=(--skip-aria2); shift ;;
    --skip-idle) skip_idle=(--skip-idle); shift ;;
    -h | --help) usage; exit 0 ;;
    -*) echo "bench: unknown option $1" >&2; usage; exit 2 ;;
    *) size=$1; shift ;;
  esac
done
case $size in '' | *[!0-9]*) echo "bench: the size is a number of MiB, not '$size'" >&2; usage; exit 2 ;; esac
[ "$size" -gt 0 ] || { echo "bench: the size must be above 0 MiB" >&2; exit 2; }
# A label heads a column and names its build's folder.
good_label() {
  case $1 in
    '' | . | .. | */* | *=*) echo "bench: '$1' cannot name a build (no '/' or '=')" >&2; return 1 ;;
  esac
}
good_label "$label" || exit 2
shas=() names=()
for spec in "${compares[@]}"; do
  rev=${spec%%=*} name=${spec#*=}
  [ -n "$rev" ] || { echo "bench: --compare needs a revision" >&2; exit 2; }
  sha=$(git rev-parse --verify --quiet "$rev^{commit}") || { echo "bench: no revision $rev" >&2; exit 2; }
  [ "$spec" != "$rev" ] || name=${rev//\//_}
  good_label "$name" || exit 2
  for l in "$label" "${names[@]}"; do
    [ "$l" != "$name" ] || { echo "bench: two builds named '$name'" >&2; exit 2; }
  done
  shas+=("$sha") names+=("$name")
done

assignments=$("$root/tools/setup.sh") || exit 1
eval "$assignments"
export TOLLGROVE_DEPS TOLLGROVE_DEPS64 TOLLGROVE_HOST_RUNS_32BIT
# shellcheck source=tools/windows-build.sh
. "$root/tools/windows-build.sh"
choose_windows_build
[ "$TG_WIN_PRESET" = windows ] || echo "bench: the Windows figures are of the x86-64 build under 64-bit Wine ($TG_WIN_WHY)"

# build_tree DIR NAME: the Windows preset with DIR's own build script and
# libraries (its tools/setup.sh, which names the cache its build needs),
# and the native engine, optimised and without sanitizers, apart from the
# test builds. Returns 1 when either fails; a revision's native engine that
# does not build (an older tree may lack it) is only left out, its runs
# showing n/a.
build_tree() {
  local dir=$1 name=$2 out
  (
    cd "$dir" || exit 1
    if [ "$dir" != "$root" ] && [ -x tools/setup.sh ]; then
      assignments=$(tools/setup.sh) || exit 1
      eval "$assignments"
      export TOLLGROVE_DEPS TOLLGROVE_DEPS64 TOLLGROVE_HOST_RUNS_32BIT
    fi
    tools/build.sh "$TG_WIN_PRESET"
  ) || return 1
  if ! out=$({ cmake -S "$dir" -B "$dir/build/bench" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF &&
    cmake --build "$dir/build/bench" --target direct_http_bench; } 2>&1); then
    printf '%s\n' "$out" | tail -n 30 >&2
    echo "bench: the native direct_http_bench of $name did not build" >&2
    [ "$dir" != "$root" ] || return 1
    echo "bench: $name's native runs show n/a" >&2
    rm -f "$dir/build/bench/bench/direct_http_bench" # not a stale one of another revision
  fi
}

# checkout_revision SHA DIR: a worktree of commit SHA, detached, in DIR;
# one already there is moved to SHA, so that its build only redoes what
# changed.
checkout_revision() {
  local sha=$1 dir=$2
  if [ -e "$dir/.git" ]; then
    [ "$(git -C "$dir" rev-parse HEAD)" = "$sha" ] && return 0
    if [ -n "$(git -C "$dir" status --porcelain --untracked-files=no)" ]; then
      echo "bench: $dir has changes of its own; remove it (git worktree remove --force $dir) or commit them" >&2
      return 1
    fi
    git -C "$dir" checkout --quiet --detach "$sha"
  elif [ -e "$dir" ]; then
    echo "bench: $dir is in the way and is no worktree; remove it" >&2
    return 1
  else
    # --force: a worktree removed by hand leaves its entry behind, which
    # would refuse the folder.
    git -C "$root" worktree add --force --quiet --detach "$dir" "$sha"
  fi
}

builds=()
for i in "${!shas[@]}"; do
  name=${names[i]} dir=$root/build/compare/${names[i]}
  checkout_revision "${shas[i]}" "$dir" || exit 1
  echo "bench: building $name ($(git -C "$dir" log -1 --format='%h %s'))" >&2
  started=$SECONDS
  build_tree "$dir" "$name" || { echo "bench: building $name failed" >&2; exit 1; }
  echo "bench: $name built in $((SECONDS - started)) s" >&2
  builds+=(--build "$name=$dir")
done
started=$SECONDS
build_tree "$root" "$label" || exit 1
echo "bench: $label (this tree) built in $((SECONDS - started)) s" >&2
builds+=(--build "$label=$root")

# shellcheck source=tools/wine-session.sh
. "$root/tools/wine-session.sh"
trap stop_wine_session EXIT
trap 'exit 130' INT TERM
start_wine_session "$root/build/bench/wineprefix" || exit 1

started=$SECONDS
/usr/bin/python3 "$root/bench/whole_program_bench.py" --size-mib "$size" --preset "$TG_WIN_PRESET" \
  "${skip_aria2[@]}" "${skip_idle[@]}" "${builds[@]}"
status=$?
echo "bench: the runs took $((SECONDS - started)) s" >&2
exit $status

# Sourced: start_wine_session PREFIX gives Windows programs what they need
# to run here: a display (the user's, else a private Xvfb, then
# TG_PRIVATE_DISPLAY=1), the Wine prefix, one persistent wineserver, and
# Wine's background processes already running. stop_wine_session ends what
# it started. Each step that fails says what failed and how to see more,
# and start_wine_session then returns 1.
tg_session_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
tg_session_pids=()

start_wine_session() {
  if [ -z "${DISPLAY:-}" ]; then
    # shellcheck source=tools/xvfb.sh
    . "$tg_session_dir/xvfb.sh"
    start_xvfb || return 1
    tg_session_pids+=("$XVFB_PID")
    TG_PRIVATE_DISPLAY=1
  fi
  export WINEPREFIX=$1 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml="
  "$tg_session_dir/wine-prefix.sh" "$WINEPREFIX" || return 1
  # Each program then starts in milliseconds instead of half a second.
  if ! wineserver -p; then
    echo "wine-session: the persistent wineserver did not start for $WINEPREFIX;" \
      "see more with: WINEPREFIX=$WINEPREFIX wineserver -f -d1" >&2
    return 1
  fi
  # Wine's background processes (services, explorer) start with the first
  # program and keep the descriptors it inherits: start them here, detached
  # from any caller's output pipes, or a reader of those pipes (ctest)
  # waits on them until its time-out.
  if ! wine cmd /c exit </dev/null >/dev/null 2>&1; then
    echo "wine-session: Wine could not run a program in $WINEPREFIX ($(command -v wine));" \
      "see more with: WINEPREFIX=$WINEPREFIX WINEDEBUG=err+all wine cmd /c exit" >&2
    return 1
  fi
}

stop_wine_session() {
  [ -n "${WINEPREFIX:-}" ] && wineserver -k >/dev/null 2>&1
  local p
  for p in "${tg_session_pids[@]}"; do kill "$p" >/dev/null 2>&1; done
  return 0
}

# Sourced: start_xvfb starts an Xvfb display and exports DISPLAY and XVFB_PID.
start_xvfb() {
  local n
  for n in $(seq 90 140); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    XVFB_PID=$!
    local i
    for i in $(seq 1 50); do
      [ -e "/tmp/.X11-unix/X$n" ] && { export DISPLAY=":$n" XVFB_PID; return 0; }
      kill -0 "$XVFB_PID" 2>/dev/null || break
      sleep 0.1
    done
  done
  echo "xvfb: could not start a display" >&2
  return 1
}

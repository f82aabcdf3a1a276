# shellcheck shell=bash
# Sourced by the scripts that run the program as a user would: a private home
# (the log folder, journal and settings of the run stay out of the user's) and
# a private X server. Sets HOME, XDG_RUNTIME_DIR, DISPLAY and xvfb_pid.
start_private_x() { # WORKDIR
  local work=$1
  mkdir -p "$work/home" "$work/runtime"
  chmod 700 "$work/runtime"
  export HOME=$work/home XDG_RUNTIME_DIR=$work/runtime
  unset XDG_STATE_HOME XDG_CONFIG_HOME XDG_DATA_HOME XDG_DOCUMENTS_DIR QT_QPA_PLATFORM

  Xvfb -displayfd 5 -screen 0 1280x1024x24 -nolisten tcp -noreset 5>"$work/display" 2>"$work/xvfb.log" &
  xvfb_pid=$! # read by the caller's clean-up
  export xvfb_pid
  for _ in $(seq 300); do
    [ -s "$work/display" ] && break
    sleep 0.1
  done
  [ -s "$work/display" ] || { echo "Xvfb did not start" >&2; exit 1; }
  DISPLAY=:$(head -n 1 "$work/display")
  export DISPLAY
}

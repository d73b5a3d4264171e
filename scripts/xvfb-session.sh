# Shared by the screenshot scripts (sourced, not run): installs what they
# need, starts a virtual X display with a small window manager for the
# title bars, finds windows by caption and saves them as PNG files.
#
# The sourcing script sets ROOT, OUT and PACKAGES first; it starts its
# program with APP_PID set, and everything is stopped when it exits.

install_missing_packages() {
  missing=""
  for package in $PACKAGES; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" \
      || missing="$missing $package"
  done
  if [ -n "$missing" ]; then
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO="sudo"
    $SUDO apt-get update -q
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends $missing
  fi
}

# Starts display :$1 and openbox on it; RUN_DIR is a scratch directory
# removed at the end.
start_display() {
  RUN_DIR="$(mktemp -d)"
  Xvfb ":$1" -screen 0 1100x640x24 -nolisten tcp &
  XVFB_PID=$!
  APP_PID=""
  WM_PID=""
  trap stop_display EXIT
  export DISPLAY=":$1"
  unset QT_QPA_PLATFORM QM_UI_SCRIPT
  for attempt in 1 2 3 4 5 6 7 8 9 10; do
    xwininfo -root >/dev/null 2>&1 && break
    sleep 0.5
  done
  openbox >/dev/null 2>&1 &
  WM_PID=$!
  sleep 1
  mkdir -p "$OUT"
}

stop_display() {
  [ -n "$APP_PID" ] && kill "$APP_PID" 2>/dev/null || true
  [ -n "$WM_PID" ] && kill "$WM_PID" 2>/dev/null || true
  kill "$XVFB_PID" 2>/dev/null || true
  rm -rf "$RUN_DIR"
}

# Waits for a window with this caption; prints its id.
find_window() {
  for attempt in $(seq 1 40); do
    id="$(xwininfo -root -tree | grep "\"$1\"" | head -n 1 | awk '{print $1}')"
    [ -n "$id" ] && echo "$id" && return 0
    sleep 0.25
  done
  echo "screenshots: no window \"$1\" appeared" >&2
  exit 1
}

# Saves the window with caption $1, with its frame, as docs/screenshots/$2.
shoot() {
  id="$(find_window "$1")"
  sleep 1
  import -window "$id" -frame "$OUT/$2"
  echo "saved docs/screenshots/$2"
}

#!/usr/bin/env bash
# The demo window under a virtual X server, read through the at-spi accessibility bus as a
# screen reader reads it: every control is there with its name and role.
# Usage: atspi_smoke_test.sh DEMO; exit status 77 (skipped) where a piece is missing.
set -euo pipefail
demo=$1
here=$(cd "$(dirname "$0")" && pwd)

for tool in Xvfb dbus-run-session dbus-send; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
[ -x /usr/libexec/at-spi-bus-launcher ] ||
  { echo "skipped: at-spi2-core is not installed"; exit 77; }

if [ -z "${GLOWSTEP_IN_SESSION:-}" ]; then
  GLOWSTEP_IN_SESSION=1 exec dbus-run-session -- "$0" "$@"
fi

display=:$((100 + $$ % 800))
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
demo_pid=
cleanup() {
  [ -z "$demo_pid" ] || kill "$demo_pid" 2>/dev/null || true
  kill "$xvfb" 2>/dev/null || true
}
trap cleanup EXIT
for _ in $(seq 50); do
  [ -e "/tmp/.X11-unix/X${display#:}" ] && break
  sleep 0.1
done

# The accessibility bus is started by asking for its address, as a desktop session does.
dbus-send --session --dest=org.a11y.Bus --print-reply /org/a11y/bus org.a11y.Bus.GetAddress \
  >/dev/null
DISPLAY=$display QT_QPA_PLATFORM=xcb QT_ACCESSIBILITY=1 QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 \
  LANGUAGE=en "$demo" </dev/null >/dev/null 2>&1 &
demo_pid=$!

/usr/bin/python3 "$here/atspi_tree.py" \
  "frame|Glowstep v3.2" \
  "spin box|Number of stairs" "spin box|LEDs per stair" "spin box|Standby LEDs" \
  "spin box|Switch-on time after the sensor fires, s" \
  "spin box|Delay between fully on and switching off, s" \
  "spin box|Minimum sensor signal length, s" \
  "spin box|Minimum photo-sensor signal length, s" \
  "slider|Photo-sensor sensitivity" \
  "push button|Main colour" "push button|Standby colour" \
  "push button|Read settings" "push button|Write settings"

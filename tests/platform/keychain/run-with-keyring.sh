#!/bin/sh
# Runs a program inside a private D-Bus session bus that has its own unlocked
# gnome-keyring, so keyring tests need no desktop session and never touch the
# user's keyring. The keyring's files live in a temporary home, removed after.
#   run-with-keyring.sh program [argument...]
set -eu
root=$(mktemp -d "${TMPDIR:-/tmp}/tidewell-keyring-XXXXXX")
trap 'rm -rf "$root"' EXIT
trap 'exit 143' INT TERM
mkdir -m 700 "$root/home" "$root/run"
status=0
env -u DBUS_SESSION_BUS_ADDRESS -u DISPLAY -u WAYLAND_DISPLAY -u XDG_DATA_HOME -u XDG_CONFIG_HOME \
    -u GNOME_KEYRING_CONTROL HOME="$root/home" XDG_RUNTIME_DIR="$root/run" \
    dbus-run-session -- sh -c 'printf %s tidewell-test | gnome-keyring-daemon --unlock --components=secrets >/dev/null && exec "$@"' \
    keyring "$@" || status=$?
exit "$status"

#!/usr/bin/env bash
# Real-window check: Pictor starts under Xvfb, a close request (SIGTERM) writes a complete
# settings file beside the program, and the next start reads it back and writes it again.
# Usage: start_and_close.sh PICTOR_BINARY
set -euo pipefail
binary=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$binary" "$work/pictor"
# The bundled picture plug-ins live beside the program.
bundled=$(cd "$(dirname "$binary")" && ls *.spi 2>/dev/null || true)
for spi in $bundled; do cp "$(dirname "$binary")/$spi" "$work/"; done
mkdir -p "$work/photos"
export XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/run"
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"

fail() { echo "FAIL: $*"; [ -f "$work/pictor.ini" ] && cat "$work/pictor.ini"; exit 1; }

# Starts the program, waits for its main window, asks it to close, waits for it to end.
run_once() {
    "$work/pictor" "$@" >"$work/log" 2>&1 &
    local pid=$! shown=""
    for _ in $(seq 1 100); do
        # The caption is "Pictor[MainForm]" until the tree shows a folder, then its path.
        if xwininfo -root -tree 2>/dev/null | grep -q -e 'Pictor\[MainForm\]' -e "\"$work/photos"; then shown=1; break; fi
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    [ -n "$shown" ] || { kill -9 "$pid" 2>/dev/null; cat "$work/log"; fail "no main window"; }
    kill -TERM "$pid"
    for _ in $(seq 1 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    if kill -0 "$pid" 2>/dev/null; then kill -9 "$pid"; fail "still running after SIGTERM"; fi
    wait "$pid" || true
}

value() { # section key
    awk -v s="[$1]" -v k="$2" '$0==s{inside=1;next} /^\[/{inside=0} inside && index($0,k"=")==1{print substr($0,length(k)+2); exit}' "$work/pictor.ini"
}

run_once "$work/photos"
[ -f "$work/pictor.ini" ] || fail "no settings file written beside the program"
for section in WindowPosition ViewFileSelect Interval WindowsSizeSelect View "Plug-in Dir"; do
    grep -qx "\[$section\]" "$work/pictor.ini" || fail "section [$section] missing"
done
[ "$(value WindowPosition Width)" = 800 ] || fail "first start is not 800 wide"
[ "$(value ViewFileSelect LastDirPath)" = "$work/photos" ] || fail "folder argument not kept"
for spi in $bundled; do
    [ "$(value Plug-in "$work/$spi")" = 1 ] || fail "bundled plug-in $spi not found at start"
done
n=$(echo $bundled | wc -w)
# 41 keys of the main window, one per plug-in, 18 of the file list's layout.
[ "$(grep -c '=' "$work/pictor.ini")" = $((41 + n + 18)) ] || fail "expected $((41 + n + 18)) keys"
grep -qx "\[ShellFileSetting\]" "$work/pictor.ini" || fail "file list layout missing"

# Change the stored settings, start again: the program must read them and write them back.
sed -i -e 's/^Height=.*/Height=500/' -e 's/^gif=0/gif=1/' -e 's/^Interval=.*/Interval=4500/' \
    -e 's/^Pics2=1/Pics2=0/' -e 's/^Pics3=0/Pics3=1/' -e 's/^LastDir=0/LastDir=1/' \
    -e 's/^cur=0/cur=1/' "$work/pictor.ini"
run_once
[ "$(value WindowPosition Height)" = 500 ] || fail "height not read back"
[ "$(value ViewFileSelect gif)" = 1 ] || fail "gif switch not read back"
[ "$(value Interval Interval)" = 4500 ] || fail "interval not read back"
[ "$(value WindowsSizeSelect Pics3)" = 1 ] || fail "fit mode not read back"
[ "$(value "Plug-in Dir" cur)" = 1 ] || fail "plug-in folder switch not read back"
[ "$(value ViewFileSelect LastDirPath)" = "$work/photos" ] || fail "last folder not reopened"
echo "start and close under Xvfb: ok"

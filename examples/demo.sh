#!/bin/sh
# The demo: a simulated controller station on a pseudo-terminal, reached as COM1 through
# ZAVLO384_COM1, and zavlo384-cli running demo.cmd against it: identify the station,
# download demo.s24, read the image back with @binget, set the clock, write a serial
# number into a scratch copy of rexa01.prn. The read-back bytes are compared with a binary
# made from demo.s24 by srec_cat; any difference fails the demo.
#
# Usage: demo.sh [--gui] [BIN_DIR [STATION_OPTION...]]
#   --gui    open the window on the same station instead (needs a display)
#   BIN_DIR  where the programs are (default: build/bin next to this folder)
#   STATION_OPTION  passed to zavlo384-station, e.g. --pace for the time a real line takes
# Exit status: 0 when every step went right, 1 when one failed, 2 when the demo could not
# be set up.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
gui=0
if [ "${1:-}" = "--gui" ]; then gui=1; shift; fi
bin=${1:-"$here/../build/bin"}
[ $# = 0 ] || shift
bin=$(cd "$bin" 2>/dev/null && pwd) || { echo "demo: no folder $bin" >&2; exit 2; }

# Image range and serial number; they must match demo.cmd.
first=0x010000
count=0x009234
serial=00012345

fail() { echo "demo: $*" >&2; exit 1; }
cannot() { echo "demo: $*" >&2; exit 2; }

for p in zavlo384-cli zavlo384-station; do
    [ -x "$bin/$p" ] || cannot "$bin/$p is missing (make build)"
done
if [ "$gui" = 1 ]; then
    [ -x "$bin/zavlo384" ] || cannot "$bin/zavlo384 is missing (build with the window)"
    [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] ||
        cannot "no display (DISPLAY and WAYLAND_DISPLAY are empty); 'make demo' runs without one"
fi
command -v srec_cat >/dev/null || cannot "srec_cat is missing (Debian package srecord)"

tmp=$(mktemp -d "${TMPDIR:-/tmp}/zavlo384-demo.XXXXXX")
station=
stop_station() {
    if [ -n "$station" ]; then
        kill -TERM "$station" 2>/dev/null || :
        wait "$station" 2>/dev/null || :
        station=
    fi
}
cleanup() { stop_station; rm -rf "$tmp"; }
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

# The station prints the path to open once the terminal is ready: wait for that line.
# Ctrl+C is for zavlo384-cli, which then stops its job cleanly: the station runs in a
# session of its own, out of the terminal's reach, and cleanup stops it afterwards. (A
# background command of a script leads no process group, so setsid does not fork and $!
# is the station itself.)
mkfifo "$tmp/ready"
setsid "$bin/zavlo384-station" --link "$tmp/COM1" "$@" >"$tmp/ready" 2>"$tmp/station.err" &
station=$!
if ! read -r port <"$tmp/ready"; then
    cat "$tmp/station.err" >&2
    cannot "the station did not start"
fi
export ZAVLO384_COM1="$port"
echo "Station on $port, reached as COM1."

# The cli looks rexa01.prn up in its current folder: give it a scratch one.
mkdir "$tmp/work"
cp "$here/demo.cmd" "$here/demo.s24" "$here/rexa01.prn" "$tmp/work/"
: >"$tmp/work/readback.bin"
cd "$tmp/work"

if [ "$gui" = 1 ]; then
    echo "The window works in $tmp/work: it identifies the station first; then type"
    echo "script lines, or load demo.cmd or demo.s24 with Soubor. Close it to end the demo."
    "$bin/zavlo384" I000000 || fail "the window ended with status $?"
    exit 0
fi

start=$(date +%s%N)
status=0
"$bin/zavlo384-cli" '#demo.cmd' || status=$?
end=$(date +%s%N)
[ "$status" = 0 ] || fail "zavlo384-cli ended with status $status"

srec_cat demo.s24 -fill 0xFF $first $((first + count)) -crop $first $((first + count)) \
    -offset -$first -o expected.bin -binary
if cmp expected.bin readback.bin; then
    echo "Read back: $((count)) bytes from 0x010000 equal to demo.s24."
else
    fail "the bytes read back differ from demo.s24"
fi
# One line more than the copy came with, and that line for our serial number.
[ "$(wc -l <rexa01.prn)" -eq $(($(wc -l <"$here/rexa01.prn") + 1)) ] &&
    tail -n 1 rexa01.prn | grep -q "^\"\",\"\",\"Demo line\",\"$serial\",\"\",\"lot 1\"," ||
    fail "rexa01.prn got no record of $serial"
echo "rexa01.prn: $(tail -n 1 rexa01.prn | tr -d '\r')"

# Data bytes of the S2 records: the byte count less 3 address bytes and the check sum.
awk -v r=$((count)) -v ns=$((end - start)) '
    function hex(t) { return index("0123456789ABCDEF", toupper(t)) - 1 }
    /^S2/ { d += hex(substr($0, 3, 1)) * 16 + hex(substr($0, 4, 1)) - 4 }
    END {
        s = ns / 1e9
        printf "Demo passed: %d bytes downloaded, %d read back, in %.2f s: %.0f bytes/s.\n",
               d, r, s, (d + r) / s
    }' demo.s24

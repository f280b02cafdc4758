#!/usr/bin/env bash
# The Windows installer puts the programs in the test's directory; the zip holds the same.
# The installed agent under Wine tests four ports of a Linux virtual board at once, as COM1 to COM4
# (the Wine prefix's port table names links that this test points at the board's ports): each
# port has a loopback plug, COM3 corrupts every 1000th character. The Windows console starts the
# agent and waits for the results; the Linux console then reads them from the same store. Then an
# internal test on COM1, which Wine's serial driver cannot loop inside the port. Then the
# uninstaller removes the programs.
#
# Where Wine differs from Windows, and what this test does about it:
# - Wine completes a read at once with what has already arrived, but a read that had to wait
#   completes only once its buffer is full, even when its total time-out has passed with some
#   characters in it (Windows completes it then). The ports read in pieces of the pattern's
#   length (60), which the writer sends whole: the last read of a test fills, and the first read
#   after the line went quiet is empty and ends the test.
# - An empty read fails with error 1460 instead of succeeding with 0 bytes; the agent takes both
#   as an empty read.
# - A pty carries 8 data bits and no parity: the tests run at 8N1.
# - Wine's serial driver shows no output queue, and refuses the loopback control codes (87), as
#   Windows' own driver does.
#
# Run through scripts/lib/wine-run --session (CTest does so). Needs the Linux build's vynboard and
# vynloopctl (VYNLOOP_LINUX_BIN) and the Windows build's packages (VYNLOOP_WINDOWS_PACKAGES);
# exits 77 (skipped) when the Linux programs are missing.
set -uo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
runner="$root/scripts/lib/wine-run"
linux=${VYNLOOP_LINUX_BIN:-$root/build/bin}
packages=${VYNLOOP_WINDOWS_PACKAGES:-$root/build/windows/packages}
ports="${VYNLOOP_WINEPREFIX:-$root/build/wine}/ports"
for program in "$linux/vynboard" "$linux/vynloopctl"; do
    [ -x "$program" ] || { echo "skipped: $program is not built (the default preset)"; exit 77; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/vynwine.XXXXXX")
windows=$work/install
windows_path() { echo "Z:$1" | tr / '\\'; }
instance=wine$$
board=""
export VYNLOOP_MIB=$work/mib.db VYNLOOP_RUNDIR=$work/run VYNLOOP_DEVDIR=$work/board
windows_store="Z:$work/mib.db"

source "$(dirname "$0")/checks.sh"
windows_console() {
    VYNLOOP_MIB=$windows_store "$runner" "$windows/vynloopctl.exe" "$@"
}
value() { "$linux/vynloopctl" get "$1.$instance.$2"; }
matches() { [[ $1 =~ $2 ]]; }  # sets BASH_REMATCH

# The Wine processes of the agent, by their Linux process ids.
agent_processes() {
    local pid
    for pid in $(ls /proc | grep -E '^[0-9]+$'); do
        tr '\0' ' ' 2>/dev/null <"/proc/$pid/cmdline" | grep -q "vynloop.exe $instance" && echo "$pid"
    done
    return 0
}

cleanup() {
    # The agent is asked to end; one that does not within 20 s is ended by its process id.
    if [ -n "$(agent_processes)" ]; then
        windows_console notify "$instance" topology-exiting >/dev/null 2>&1
        for _ in $(seq 200); do
            [ -z "$(agent_processes)" ] && break
            sleep 0.1
        done
        for pid in $(agent_processes); do
            kill "$pid" 2>/dev/null
        done
    fi
    [ -n "$board" ] && kill "$board" 2>/dev/null && wait "$board" 2>/dev/null
    for number in 1 2 3 4; do
        ln -sfn /dev/null "$ports/COM$number"
    done
    [ -x "$windows/uninstall.exe" ] && "$runner" "$windows/uninstall.exe" /S "_?=$(windows_path "$windows")"
    rm -rf "$work"
}
trap cleanup EXIT

installer=$(ls "$packages"/vynloop-*-setup.exe)
"$runner" "$installer" /S "/D=$(windows_path "$windows")"
check "the installer ends well" [ $? -eq 0 ]
for file in vynloop.exe vynloopctl.exe README.md uninstall.exe; do
    check "the installer put $file in place" [ -s "$windows/$file" ]
done
zipped=$(cmake -E tar tf "$(ls "$packages"/vynloop-*-windows-x64.zip)" | sort | tr '\n' ' ')
check "the zip holds the programs and the README: $zipped" \
    [ "$zipped" = "vynloop/ vynloop/README.md vynloop/vynloop.exe vynloop/vynloopctl.exe " ]

mkdir -p "$work/board" "$work/run"
"$linux/vynboard" serve --dir "$work/board" --ports 4 >"$work/board.log" 2>&1 &
board=$!
for _ in $(seq 100); do
    grep -q ready "$work/board.log" && break
    sleep 0.1
done
check "the board is ready" grep -q ready "$work/board.log"
for number in 1 2 3 4; do
    ln -sfn "$work/board/COM$number" "$ports/COM$number"
    "$linux/vynboard" ctl --dir "$work/board" "COM$number" plug=loop >/dev/null
done
"$linux/vynboard" ctl --dir "$work/board" COM3 corrupt=1000 >/dev/null
"$linux/vynloopctl" init "$instance" 1=COM1 2=COM2 3=COM3 4=COM4 >/dev/null
"$linux/vynloopctl" set "portInBuffSize.$instance."{1,2,3,4}=60

# Four external tests at once: three clean, COM3 with data errors.
windows_console test "$instance" 1 2 3 4 --external --speed 115200 --time 3 --wait \
    >"$work/test.out" 2>&1 </dev/null
status=$?
check "the Windows console reports errors (status 1)" [ $status -eq 1 ]
check "the installed console started the installed agent" \
    grep -qF "started the agent of instance $instance ($(windows_path "$windows")\\vynloop.exe, pid" "$work/test.out"
clean='^Loopback test complete, no errors detected\. Avg transmission rate was ([0-9]+) Baud\.$'
for number in 1 2 4; do
    result=$(value portLoopStopErr "$number")
    check "COM$number passed: $result" matches "$result" "$clean"
    rate=${BASH_REMATCH[1]:-0}
    # Measured over the whole test, since Wine never shows an output queue: near the line rate,
    # never above it.
    check "COM$number rate $rate is the line's" test "$rate" -ge 57600 -a "$rate" -le 115200
    check "COM$number is complete (5)" [ "$(value portLoopState "$number")" = 5 ]
done
# Each corrupted character is one data error, or two where it fell in the last, partial piece of
# a read (that piece, then the next read out of step). Wine's reads that complete at once end
# wherever the arrived characters end, so partial pieces are common here; a board port read on
# Linux in pieces of the pattern has none.
corrupted=$("$linux/vynboard" ctl --dir "$work/board" COM3 show | sed -n 's/^corrupted: //p')
result=$(value portLoopStopErr 3)
check "COM3 reports data errors: $result" matches "$result" \
    '^Loopback test complete, ([0-9]+) data errors detected\. Avg transmission rate was [0-9]+ Baud\.$'
errors=${BASH_REMATCH[1]:-0}
check "COM3's $errors data errors are its ${corrupted:-0} corrupted characters" \
    test "${corrupted:-0}" -gt 0 -a "$errors" -ge "${corrupted:-0}" -a "$errors" -le "$((2 * ${corrupted:-0}))"
check "COM3's input errors are the data errors" [ "$(value portLoopInErrs 3)" = "$errors" ]

# The Linux console reads the same results from the store the Windows agent wrote.
"$linux/vynloopctl" results "$instance" >"$work/results.out"
check "the Linux console lists the three clean ports" [ "$(grep -c 'passed' "$work/results.out")" -eq 3 ]
check "and COM3 with its errors" grep -q "COM3 .*errors .*$errors data errors detected" "$work/results.out"

# An internal test on a port whose driver refuses the loopback codes.
windows_console test "$instance" 1 --internal --time 2 --wait >"$work/internal.out" 2>&1 </dev/null
check "the internal test fails (status 1)" [ $? -eq 1 ]
check "with the text Linux gives such a port" [ "$(value portLoopStopErr 1)" = \
    "Unable to set internal loopback for COM1, IOCTL failed. Internal loopback is not supported by this port; test it with an external loopback plug." ]
check "as failed (4)" [ "$(value portLoopState 1)" = 4 ]

"$runner" "$windows/uninstall.exe" /S "_?=$(windows_path "$windows")"
check "the uninstaller removes the programs" [ ! -e "$windows/vynloopctl.exe" ]

if [ $failed -gt 0 ]; then
    echo "--- Windows console:" && cat "$work/test.out" "$work/internal.out"
fi
summary "wine end-to-end"

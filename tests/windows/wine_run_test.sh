#!/usr/bin/env bash
# The Wine runner refuses to start anything unless every serial device of this machine is
# /dev/null in its private mount namespace. No case here starts Wine.
set -uo pipefail
runner="$(cd "$(dirname "$0")/../.." && pwd)/scripts/lib/wine-run"
work=$(mktemp -d "${TMPDIR:-/tmp}/vynwinerun.XXXXXX")
trap 'rm -rf "$work"' EXIT
source "$(dirname "$0")/checks.sh"

devices=(/dev/ttyS* /dev/ttyUSB* /dev/ttyACM*)
existing=()
for device in "${devices[@]}"; do
    [ -e "$device" ] && existing+=("$device")
done

# Every device is hidden, and only inside the runner's namespace.
output=$("$runner" --check 2>&1)
check "--check passes" [ $? -eq 0 ]
check "--check names every serial device" \
    [ "$(echo "$output" | grep -o '/dev/tty[A-Z]*[0-9]*' | sort -u | wc -l)" -eq ${#existing[@]} ]
for device in "${existing[@]}"; do
    check "$device is left as it is outside" \
        [ "$(stat -L -c '%t:%T' "$device")" != 1:3 ]
done

# A device left unmasked is caught by the check, and the command never runs.
if [ ${#existing[@]} -gt 0 ]; then
    output=$(VYNLOOP_WINE_RUN_LEAVE=${existing[0]} "$runner" --session touch "$work/ran" 2>&1)
    status=$?
    check "an unmasked device is refused (status 3)" [ $status -eq 3 ]
    check "the refusal names the device" grep -q "${existing[0]} is not /dev/null" <<<"$output"
    check "nothing ran" [ ! -e "$work/ran" ]
else
    echo "no serial device on this machine: the unmasked-device case is skipped"
fi

# A wineserver of the prefix that runs in the machine's own namespace (started by hand, say)
# would open devices for every Wine process: refused. The stand-in server is a sleep working in a
# directory named as Wine names its server's, after the prefix's device and inode.
prefix="$work/prefix"
mkdir -p "$prefix" && touch "$prefix/.vynloop-ready"
server_dir="$work/server-$(printf '%x-%x' "$(stat -c %d "$prefix")" "$(stat -c %i "$prefix")")"
mkdir -p "$server_dir"
(cd "$server_dir" && exec sleep 60) &
server=$!
output=$(VYNLOOP_WINEPREFIX=$prefix "$runner" --session touch "$work/ran" 2>&1)
check "a wineserver outside any private namespace is refused" [ $? -eq 3 ]
check "the refusal names the process" grep -q "(process $server)" <<<"$output"
check "nothing ran" [ ! -e "$work/ran" ]
kill $server
wait $server 2>/dev/null

# The namespace step cannot be skipped from outside, and only Wine's programs are run.
"$runner" --in-namespace --session touch "$work/ran" 2>/dev/null
check "a call that claims to be inside is refused" [ $? -eq 3 ]
check "nothing ran" [ ! -e "$work/ran" ]
output=$("$runner" /bin/true 2>&1)
check "a Linux program is refused" [ $? -eq 3 ]

summary "wine-run"

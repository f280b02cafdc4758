#!/bin/sh
# The hardware suite: the agent and the console on Linux's own 8250 driver, inside the virtual
# machine that scripts/vmtest boots (port layout in scripts/lib/vm.sh: ttyS1 a loopback plug,
# ttyS2 and ttyS3 a null-modem cable, ttyS4..ttyS15 nothing attached, ttyS0 the console).
# Port N of instance "vm" is ttySN; port 16 is ttyS0. One line per case, then "N passed, N failed".
# Outcomes, texts and counts are asserted, never rates: the emulated UARTs are not paced.

I=vm
LINE="--speed 115200 --data-bits 8 --parity none --stop-bits 1 --pattern barber --check"
BASE="$LINE --flow none"
NOTHING_ATTACHED="4 5 6 7 8 9 10 11 12 13 14 15"
passed=0
failed=0
problems=""

fail() {
    problems="$problems${problems:+; }$*"
}

# run_case NAME FUNCTION: runs a case and prints its line, with what the case's commands said on
# standard error when it failed.
run_case() {
    problems=""
    begun=$(date +%s)
    "$2" 2>/tmp/case.err </dev/null
    took=$(($(date +%s) - begun))
    if [ -z "$problems" ]; then
        passed=$((passed + 1))
        echo "ok - $1 (${took} s)"
    else
        failed=$((failed + 1))
        echo "FAIL - $1 (${took} s): $problems"
        grep -v "^started the agent" /tmp/case.err | tail -n 5 | sed 's/^/    /'
    fi
}

device() {
    if [ "$1" -eq 16 ]; then echo ttyS0; else echo "ttyS$1"; fi
}

states() {
    names=""
    for port in "$@"; do names="$names portLoopState.$I.$port"; done
    # shellcheck disable=SC2086
    vynloopctl get $names
}

# wait_state SECONDS STATES PORT...: until every port's loop state is one of STATES ("2 4 5").
wait_state() {
    limit=$1
    wanted=" $2 "
    shift 2
    deadline=$(($(date +%s) + limit))
    while :; do
        pending=0
        for state in $(states "$@"); do
            case $wanted in *" $state "*) ;; *) pending=1 ;; esac
        done
        [ $pending -eq 0 ] && return 0
        if [ "$(date +%s)" -ge $deadline ]; then
            fail "ports $* not in state $wanted after ${limit}s (states $(states "$@" | tr '\n' ' '))"
            return 1
        fi
        sleep 0.5
    done
}

wait_ended() {
    seconds=$1
    shift
    wait_state "$seconds" "2 4 5" "$@"
}

# expect_result PORT STATE TEXT: the port's test ended in STATE with a result beginning with TEXT.
expect_result() {
    text=$(vynloopctl get "portLoopStopErr.$I.$1")
    state=$(vynloopctl get "portLoopState.$I.$1")
    case $text in
        "$3"*) ;;
        *) fail "$(device "$1"): \"$text\"" ;;
    esac
    [ "$state" = "$2" ] || fail "$(device "$1") ended in state $state, not $2"
}

# The kernel's view of a port, from its UART table (nothing opened).
uart_field() {  # uart_field N AWK-PROGRAM-ON-THE-LINE
    awk -v line="$1:" "\$1 == line { $2 }" /proc/tty/driver/serial
}
rx_errors() {
    uart_field "$1" 'n = 0; for (i = 2; i <= NF; i++) if ($i ~ /^(fe|pe|brk|oe|bo):/) { split($i, f, ":"); n += f[2] } print n'
}
tx_count() {
    uart_field "$1" 'for (i = 2; i <= NF; i++) if ($i ~ /^tx:/) { split($i, f, ":"); print f[2] }'
}
modem_lines() {
    uart_field "$1" 'print ($NF ~ /:/ ? "none" : $NF)'
}

# drain N...: reads away what waits for the ports. The plug and the cable are FIFOs on the host,
# where what a port sent while its peer was closed waits for the peer's next open (a real line
# loses it); a test that began with it would count the previous test's tail as data errors.
drain() {
    readers=""
    for port in "$@"; do
        stty -F "/dev/ttyS$port" raw -echo
        timeout 0.5 cat "/dev/ttyS$port" >/dev/null &
        readers="$readers $!"
    done
    # shellcheck disable=SC2086
    wait $readers
}

# echoes N: whether a byte written to ttySN comes back within a second (internal loopback, or
# the plug).
echoes() {
    stty -F "/dev/ttyS$1" raw -echo
    exec 3<>"/dev/ttyS$1"
    printf U >&3
    reply=""
    read -r -t 1 -n 1 reply <&3
    exec 3>&-
    [ "$reply" = U ]
}

# ---------------------------------------------------------------------------------------------

internal_at_once() {
    # shellcheck disable=SC2086
    vynloopctl test $I $NOTHING_ATTACHED $BASE --internal --time 1 --wait >/dev/null
    for port in $NOTHING_ATTACHED; do
        expect_result "$port" 5 "Loopback test complete, no errors detected."
    done
}

# port data-bits parity stop-bits flow, then the words stty must show while the test runs. The
# stop bits reach the port: the UART sends one and a half with 5 data bits when CSTOPB is set.
SETTINGS="4 5 none 1 none cs5 -parenb -cstopb
5 6 none 1 none cs6 -parenb -cstopb
6 7 none 1 none cs7 -parenb -cstopb
7 8 none 2 none cs8 -parenb cstopb
8 8 odd 1 none cs8 parenb parodd -cmspar -cstopb
9 8 even 1 none cs8 parenb -parodd -cmspar -cstopb
10 8 mark 1 none cs8 parenb parodd cmspar -cstopb
11 8 space 1 none cs8 parenb -parodd cmspar -cstopb
12 5 none 1.5 none cs5 -parenb cstopb
13 8 none 1 rtscts cs8 crtscts -ixon -cstopb
14 8 none 1 xonxoff cs8 ixon ixoff -crtscts -cstopb
15 7 even 2 none cs7 parenb -parodd cstopb"

line_settings() {
    # All requests at once, so that every test is running when the settings are looked at.
    refused=$(echo "$SETTINGS" | {
        while read -r port bits parity stop flow words; do
            (vynloopctl test $I "$port" --speed 115200 --data-bits "$bits" --parity "$parity" \
                --stop-bits "$stop" --flow "$flow" --pattern barber --check --internal --time 4 \
                </dev/null >/dev/null || echo "ttyS$port") &
        done
        wait
    })
    [ -n "$refused" ] && fail "requests refused: $(echo "$refused" | tr '\n' ' ')"
    # shellcheck disable=SC2086
    wait_state 15 3 $NOTHING_ATTACHED || return
    shown=$(echo "$SETTINGS" | while read -r port bits parity stop flow words; do
        settings=" $(stty -F "/dev/ttyS$port" -a 2>/dev/null | tr '\n;' '  ') "
        for word in $words; do
            case $settings in *" $word "*) ;; *) echo "ttyS$port lacks $word" ;; esac
        done
    done)
    [ -n "$shown" ] && fail "$(echo "$shown" | tr '\n' ' ')"
    # shellcheck disable=SC2086
    wait_ended 20 $NOTHING_ATTACHED
    for port in $NOTHING_ATTACHED; do
        expect_result "$port" 5 "Loopback test complete, no errors detected."
    done
}

# running_shows PORT WORD: while the port's test runs, stty shows WORD (cstopb, -cstopb).
running_shows() {
    wait_state 10 3 "$1" || return
    settings=" $(stty -F "/dev/ttyS$1" -a 2>/dev/null | tr '\n;' '  ') "
    case $settings in
        *" $2 "*) ;;
        *) fail "ttyS$1 lacks $2 while its test runs" ;;
    esac
}

stop_bits_reach_the_port() {
    # Two stop bits set CSTOPB; one clears it, also on a port that had it set before.
    frame="--speed 115200 --data-bits 8 --parity none --pattern barber --check --flow none"
    vynloopctl test $I 7 $frame --stop-bits 2 --internal --time 3 >/dev/null ||
        fail "request refused"
    running_shows 7 cstopb
    wait_ended 15 7
    expect_result 7 5 "Loopback test complete, no errors detected."
    stty -F /dev/ttyS7 cstopb
    vynloopctl test $I 7 $BASE --internal --time 3 >/dev/null || fail "request refused"
    running_shows 7 -cstopb
    wait_ended 15 7
    expect_result 7 5 "Loopback test complete, no errors detected."
    stty -F /dev/ttyS7 -cstopb
    # A UART has one and a half stop bits only with 5 data bits.
    vynloopctl test $I 8 $frame --stop-bits 1.5 --internal --time 1 --wait >/dev/null
    expect_result 8 4 "Unable to set target device parameters. Device SetCommState for ttyS8 failed. Check Baud rate and data size.. This port sends one and a half stop bits only with 5 data bits, and two only with 6 to 8."
}

speed_not_taken() {
    # 921600 is beyond the 8250's 115200: the kernel keeps the speed the port had, without an
    # error. The test ends before anything is written, naming both speeds.
    before=$(tx_count 9)
    vynloopctl test $I 9 --speed 921600 --data-bits 8 --parity none --stop-bits 1 \
        --pattern barber --check --flow none --internal --time 1 --wait >/dev/null
    expect_result 9 4 "The port did not take the requested settings: asked 921600 8N1, it runs "
    case $text in
        *"it runs 921600 "*) fail "ttyS9 is said to run at 921600" ;;
        *" 8N1.") ;;
        *) fail "ttyS9: \"$text\"" ;;
    esac
    [ "$(tx_count 9)" = "$before" ] || fail "characters were written to ttyS9"
}

dtr_dsr_refused() {
    vynloopctl test $I 4 $LINE --flow dtrdsr --internal --time 1 --wait >/dev/null
    expect_result 4 4 "Unable to set target device parameters. Device SetCommState for ttyS4 failed. Check Baud rate and data size."
    case $text in
        *" The request is not supported.") ;;
        *) fail "not the system's 'not supported' text" ;;
    esac
}

plug_and_cable() {
    drain 1 2 3
    # The two ends of the cable, asked for in one request, are both open and reading before
    # either sends: neither misses the other's first characters.
    vynloopctl test $I 1 2 3 $BASE --external --time 1 --wait >/dev/null
    for port in 1 2 3; do
        expect_result "$port" 5 "Loopback test complete, no errors detected."
        [ "$(vynloopctl get "portLoopFirstBadPos.$I.$port")" = 0 ] ||
            fail "ttyS$port had a character that did not fit"
    done
}

nothing_attached() {
    vynloopctl test $I 5 $BASE --internal --time 1 --wait >/dev/null
    expect_result 5 5 "Loopback test complete, no errors detected."
    vynloopctl test $I 5 6 $BASE --external --time 1 --wait >/dev/null
    for port in 5 6; do
        expect_result "$port" 4 "Loopback test failed, no data characters received"
    done
}

breaks_are_receive_errors() {
    drain 1
    before=$(rx_errors 1)
    vynloopctl test $I 1 $BASE --external --time 6 >/dev/null || fail "request refused"
    wait_state 10 3 1 || return
    sleep 0.5
    for n in 1 2 3; do
        vm-break ttyS1 || fail "break $n not sent"
        # The next break waits until the kernel has counted this one: two breaks that reach the
        # UART before its interrupt is served are one break to it, and an emulated machine on a
        # busy host can be that slow.
        deadline=$(($(date +%s) + 10))
        while [ $(($(rx_errors 1) - before)) -lt "$n" ] && [ "$(date +%s)" -lt "$deadline" ]; do
            sleep 0.1
        done
    done
    wait_ended 20 1
    counted=$(($(rx_errors 1) - before))
    [ "$counted" -eq 3 ] || fail "the kernel counted $counted receive errors for 3 breaks"
    text=$(vynloopctl get "portLoopStopErr.$I.1")
    case $text in
        "Loopback test complete, $counted receive errors detected"*) ;;
        *) fail "ttyS1: \"$text\"" ;;
    esac
    # Counted as breaks, and as nothing else the driver counts.
    kinds=$(vynloopctl get "portLoopBreaks.$I.1" "portLoopFrameErrs.$I.1" \
        "portLoopParityErrs.$I.1" "portLoopOverruns.$I.1" | tr '\n' ' ')
    [ "$kinds" = "3 0 0 0 " ] || fail "breaks, frame, parity, overruns: $kinds"
}

# lines_back_to_data PORT...: the ports' next tests are data tests again, without line or break
# tests (a test's settings stay with the port).
lines_back_to_data() {
    sets=""
    for port in "$@"; do
        sets="$sets portLoopLines.$I.$port=1 portLoopBreakTime.$I.$port=0 portLoopDataTest.$I.$port=1"
    done
    # shellcheck disable=SC2086
    vynloopctl set $sets >/dev/null || fail "line settings not reset"
}

# The 8250's loop mode joins RTS to CTS, DTR to DSR, OUT1 to RI and OUT2 to DCD; the driver
# sets OUT2 at open but lets it be cleared, so every line is tested, and OUT1 and OUT2 are put
# back (every_port_as_found checks the lines at the end).
lines_internal_at_once() {
    # shellcheck disable=SC2086
    vynloopctl test $I $NOTHING_ATTACHED $BASE --lines internal --no-data --wait >/dev/null
    for port in $NOTHING_ATTACHED; do
        expect_result "$port" 5 "Line test complete, no errors detected. Control lines through the internal loopback: CTS, DSR, DCD, RI followed their outputs."
        checked=$(vynloopctl get "portLoopLinesChecked.$I.$port")
        [ "$checked" = 15 ] || fail "ttyS$port checked lines $checked, not 15"
    done
    # shellcheck disable=SC2086
    lines_back_to_data $NOTHING_ATTACHED
}

# The machine's plug is a FIFO for data: its inputs read CTS, DSR and DCD on and RI off
# whatever the outputs do, which a plug test reports as it would on a real board.
lines_plug_data_only() {
    drain 1
    vynloopctl test $I 1 $BASE --lines plug --no-data --wait >/dev/null
    expect_result 1 4 "Line test failed: Control lines through the loopback plug: CTS stays on; DSR stays on; DCD stays on; RI did not follow DTR."
    lines_back_to_data 1
}

# A break sent inside the machine never arrives (QEMU drops it): the break test says that none
# came back, and fails.
break_not_back() {
    drain 1
    vynloopctl test $I 1 $BASE --external --break --no-data --wait >/dev/null
    expect_result 1 4 "Line test failed: Break of 250 ms: no break came back."
    [ "$(vynloopctl get "portLoopBreaksBack.$I.1")" = 0 ] || fail "ttyS1 counted a break back"
    lines_back_to_data 1
}

held_port_refused() {
    (
        exec 4</dev/ttyS5
        flock -x 4
        exec sleep 30
    ) &
    holder=$!
    tries=0
    while flock -n /dev/ttyS5 true && [ $tries -lt 50 ]; do
        sleep 0.1
        tries=$((tries + 1))
    done
    vynloopctl test $I 5 $BASE --internal --time 1 --wait >/dev/null
    expect_result 5 4 "Target device cannot be opened. Device may already be in use. Device CreateFile for ttyS5 failed. Access is denied."
    kill "$holder"
    wait "$holder" 2>/dev/null
}

# left_as_found N BEFORE: the port's modem lines are BEFORE again and it does not loop back.
left_as_found() {
    now=$(modem_lines "$1")
    [ "$now" = "$2" ] || fail "ttyS$1 modem lines $2 before, $now after"
    echoes "$1" && fail "ttyS$1 still loops back"
}

stop_request() {
    before=$(modem_lines 6)
    vynloopctl test $I 6 $BASE --internal --time 30 >/dev/null || fail "request refused"
    wait_state 10 3 6 || return
    sleep 0.5
    vynloopctl stop $I 6 >/dev/null || fail "stop refused"
    wait_ended 15 6
    expect_result 6 2 "Loopback test terminated by user after "
    left_as_found 6 "$before"
}

sigterm() {
    before=$(modem_lines 7)
    vynloopctl test $I 7 $BASE --internal --time 30 >/dev/null || fail "request refused"
    wait_state 10 3 7 || return
    sleep 0.5
    agent=$(pidof vynloop)
    [ -n "$agent" ] || { fail "no agent runs"; return; }
    kill -TERM "$agent"
    tries=0
    while kill -0 "$agent" 2>/dev/null && [ $tries -lt 100 ]; do
        sleep 0.1
        tries=$((tries + 1))
    done
    kill -0 "$agent" 2>/dev/null && fail "the agent still runs 10 s after SIGTERM"
    expect_result 7 4 "Loopback test terminated due to errors after "
    left_as_found 7 "$before"
}

console_refused() {
    # Nothing is printed between the two readings of the console's transmit count.
    before=$(tx_count 0)
    vynloopctl test $I 16 $BASE --internal --time 1 --wait >/dev/null 2>&1
    after=$(tx_count 0)
    [ "$after" = "$before" ] || fail "$((after - before)) characters went out on the console"
    expect_result 16 4 "Target device cannot be opened. Device may already be in use. Device CreateFile for ttyS0 failed. The port is a console of this system and is never tested."
}

every_port_as_found() {
    drain 1
    echoes 1 || fail "the plug on ttyS1 does not echo: the loopback probe sees nothing"
    for port in 1 2 3 $NOTHING_ATTACHED; do
        now=$(modem_lines "$port")
        eval "was=\$found_$port"
        [ "$now" = "$was" ] || fail "ttyS$port modem lines $was at boot, $now now"
    done
    looped=$(for port in $NOTHING_ATTACHED; do
        (echoes "$port" && echo "ttyS$port") &
    done
    wait)
    [ -z "$looped" ] || fail "still looping back: $(echo "$looped" | tr '\n' ' ')"
}

# ---------------------------------------------------------------------------------------------

for port in 1 2 3 $NOTHING_ATTACHED; do
    eval "found_$port=\$(modem_lines $port)"
done
ports=""
for port in 1 2 3 $NOTHING_ATTACHED; do ports="$ports $port=ttyS$port"; done
# shellcheck disable=SC2086
vynloopctl init $I $ports 16=ttyS0 --resident >/dev/null

run_case "internal loopback on ttyS4..ttyS15 at once, 115200 8N1" internal_at_once
run_case "line settings through the driver: 5 to 8 bits, every parity, 1/1.5/2 stop bits, RTS/CTS, XON/XOFF" line_settings
run_case "stop bits reach the port: CSTOPB set for 2, cleared for 1; 1.5 with 8 bits refused" stop_bits_reach_the_port
run_case "a speed the UART cannot reach is refused before writing, naming both speeds" speed_not_taken
run_case "DTR/DSR handshake refused as not supported" dtr_dsr_refused
run_case "external loopback: the plug on ttyS1, the cable between ttyS2 and ttyS3 asked for together" plug_and_cable
run_case "nothing attached, external: no data received, also right after internal" nothing_attached
run_case "breaks during a test are its receive errors and its breaks, as the kernel counted them" breaks_are_receive_errors
run_case "control lines through the 8250's loopback on ttyS4..ttyS15 at once, OUT1 and OUT2 too" lines_internal_at_once
run_case "the plug carries no control lines: inputs that stay on are named" lines_plug_data_only
run_case "a break sent inside the machine does not come back, and the break test says so" break_not_back
run_case "a port another program holds is refused: access denied" held_port_refused
run_case "a stop request ends a test with its report; the port is left as found" stop_request
run_case "SIGTERM ends a test with its report; the port is left as found" sigterm
run_case "the console is refused and nothing is written to it" console_refused
run_case "every port has its modem lines as at boot and none loops back" every_port_as_found

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]

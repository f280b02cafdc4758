# What the shell tests of tests/windows share: `check NAME COMMAND...` counts COMMAND's success as
# a pass and names a failure; `summary WHAT` prints the closing line and fails when any failed.
passed=0
failed=0

check() {
    local name=$1
    shift
    if "$@"; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "FAILED: $name" >&2
    fi
}

summary() {
    echo "$1: $passed passed, $failed failed"
    [ "$failed" -eq 0 ]
}

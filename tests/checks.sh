# Sourced by the shell tests: one line per check, and a closing tally.
passed=0
failures=0
check() {  # check DESCRIPTION COMMAND...: runs the command; a failure is counted, not fatal
    description=$1
    shift
    if "$@"; then
        echo "ok: $description"
        passed=$((passed + 1))
    else
        echo "FAILED: $description"
        failures=$((failures + 1))
    fi
}
tally() {  # the closing line; fails when any check failed
    echo "$passed passed, $failures failed"
    [ "$failures" -eq 0 ]
}

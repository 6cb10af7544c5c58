# Sourced by the CI and test scripts: runs named stages, prints when each starts and how long it
# took, and remembers which failed so a script can run every check before it reports.
stages_started=$SECONDS
stages_failed=()

stage() {
    local name=$1
    shift
    local began=$SECONDS rc=0
    echo "== $name: started at +$(stage_clock $((began - stages_started)))"
    "$@" || rc=$?
    local took=$((SECONDS - began))
    if [ $rc -eq 0 ]; then
        echo "== $name: passed in $(stage_clock $took) (at +$(stage_clock $((SECONDS - stages_started))))"
    else
        echo "== $name: FAILED (exit $rc) in $(stage_clock $took) (at +$(stage_clock $((SECONDS - stages_started))))"
        stages_failed+=("$name")
    fi
    return $rc
}

stage_clock() {
    printf '%d:%02d' $(($1 / 60)) $(($1 % 60))
}

# Prints the summary and returns non-zero when any stage failed.
stages_report() {
    if [ ${#stages_failed[@]} -eq 0 ]; then
        echo "== all stages passed in $(stage_clock $((SECONDS - stages_started)))"
        return 0
    fi
    echo "== failed stages: ${stages_failed[*]} (after $(stage_clock $((SECONDS - stages_started))))"
    return 1
}

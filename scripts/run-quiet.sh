# Sourced by the scripts: run_quiet LABEL COMMAND... runs COMMAND with its
# output set aside, so that a run that goes well stays quiet; when COMMAND
# fails, its last lines are printed under LABEL and its status is returned,
# which ends a calling script that runs with set -e.
run_quiet() {
    rq_label="$1"
    shift
    rq_log="$(mktemp)"
    rq_status=0
    "$@" </dev/null >"$rq_log" 2>&1 || rq_status=$?
    if [ "$rq_status" -ne 0 ]; then
        echo "$rq_label: '$*' failed with status $rq_status; its last lines:" >&2
        tail -n 15 "$rq_log" | sed 's/^/    /' >&2
    fi
    rm -f "$rq_log"
    return "$rq_status"
}

# Sourced by the bench scripts. await_service OUT ERR PID: waits (up to a minute) for the service
# started with stdout in OUT and stderr in ERR to say it listens, then sets $port; if it ends or
# never says so, prints ERR and exits 1.
await_service() {
    local tries=0
    until grep -q '^listening on ' "$1" 2>/dev/null; do
        tries=$((tries + 1))
        if [ "$tries" -gt 600 ] || ! kill -0 "$3" 2>/dev/null; then
            echo "the service did not start:" >&2; cat "$2" >&2; exit 1
        fi
        sleep 0.1
    done
    port=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$1")
}

# bench_workspace: a work folder in $work and, in $pids, the processes the script starts; both
# are cleaned up however the script ends (KEEP=1 keeps the folder).
bench_workspace() {
    work=$(mktemp -d)
    pids=
    trap bench_cleanup EXIT INT TERM
}
bench_cleanup() {
    for p in $pids; do kill -TERM "$p" 2>/dev/null || true; wait "$p" 2>/dev/null || true; done
    [ -n "${KEEP:-}" ] || rm -rf "$work"
}

# stand_in_registry: serves $work/registry over HTTP on loopback as the RDAP server of com, net
# and org, named in $work/bootstrap.json; sets $registry to its port.
stand_in_registry() {
    mkdir -p "$work/registry"
    (cd "$work/registry" && exec python3 -m http.server --bind 127.0.0.1 0 >"$work/registry.out" 2>&1) &
    pids="$pids $!"
    tries=0
    until registry=$(sed -n 's/.*port \([0-9]*\).*/\1/p' "$work/registry.out" | head -1) && [ -n "$registry" ]; do
        tries=$((tries + 1)); [ "$tries" -lt 100 ] || { echo "the stand-in registry did not start" >&2; exit 1; }
        sleep 0.1
    done
    printf '{"version":"1.0","services":[[["com","net","org"],["http://127.0.0.1:%s/rdap/"]]]}\n' "$registry" \
        >"$work/bootstrap.json"
}

# Sourced by the benchmark scripts: start_devserver WORK_DIR DEVSERVER starts
# a cadrio-devserver seeded "demo" on a free loopback port and sets
# server_pid, base (its root URL) and api (the drive API's base URL).
start_devserver() {
  "$2" --port 0 --seed demo >"$1/server.log" 2>&1 &
  server_pid=$!
  for _ in $(seq 100); do
    grep -q "listening on" "$1/server.log" && break
    sleep 0.1
  done
  base=$(sed -n 's/.*listening on \(http[^ ]*\).*/\1/p' "$1/server.log")
  [[ -n $base ]] || { echo "cadrio-devserver did not start" >&2; cat "$1/server.log" >&2; exit 1; }
  api=$base/api/v1
}

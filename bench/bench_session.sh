# Shared by the benchmarks that mount the drive: sourced, not run.
#   bench_require TARGET FILE...   every built file is there, the tools too, and root
#   bench_private_home             a scratch HOME ($scratch) removed at exit
#   bench_run_unlocked CMD...      CMD on a session bus of its own with an
#                                  unlocked Secret Service; its standard error
#                                  is kept apart and shown only on failure

bench_require() {
  local target=$1 file tool
  shift
  for file in "$@"; do
    [[ -e $file ]] || { echo "missing $file: build $target in $build" >&2; exit 2; }
  done
  for tool in curl dbus-run-session gnome-keyring-daemon; do
    command -v "$tool" >/dev/null || { echo "$tool is needed" >&2; exit 2; }
  done
  [[ $(id -u) == 0 ]] || { echo "run as root (FUSE mounts)" >&2; exit 2; }
}

bench_private_home() {
  scratch=$(mktemp -d)
  trap 'rm -rf "$scratch"' EXIT
  export HOME=$scratch/home XDG_RUNTIME_DIR=$scratch/run XDG_CONFIG_HOME=$scratch/home/.config
  unset XDG_DATA_HOME XDG_CACHE_HOME
  mkdir -p "$HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
}

bench_run_unlocked() {
  dbus-run-session -- sh -c \
    'echo -n cadrio | gnome-keyring-daemon --unlock --components=secrets >/dev/null 2>&1; exec "$@"' \
    sh "$@" 2>"$scratch/stderr" || { tail -40 "$scratch/stderr" >&2; exit 1; }
}

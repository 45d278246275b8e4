#!/usr/bin/env bash
# A change made on the drive server (an admin rename of a file the kernel
# has looked up) until the mounted folder shows the new name, through the
# real application model, host and plug-in; the share of each stage, and
# curl -N reading the same event stream (see bench/README.md).
#
# usage: sudo bench/run_app_latency_bench.sh [BUILD_DIR]
#        (target app_latency_bench, which builds the server, the host and the plug-in)
# env:   CHANGES (50)
# Needs root, /dev/fuse, curl, dbus-run-session and gnome-keyring-daemon.
set -euo pipefail

build=${1:-build}
bench=$build/bench/app_latency_bench
server=$build/devserver/cadrio-devserver
daemon=$build/platform/host/programs/cadrio-fileproviderd
plugin=$build/fileprovider/zelvano-cadrio-fileprovider.so
pluginkit=$build/platform/host/programs/cadrio-pluginkit
for file in "$bench" "$server" "$daemon" "$plugin" "$pluginkit"; do
  [[ -e $file ]] || { echo "missing $file: build app_latency_bench in $build" >&2; exit 2; }
done
for tool in curl dbus-run-session gnome-keyring-daemon; do
  command -v "$tool" >/dev/null || { echo "$tool is needed" >&2; exit 2; }
done
[[ $(id -u) == 0 ]] || { echo "run as root (FUSE mounts)" >&2; exit 2; }

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export HOME=$scratch/home XDG_RUNTIME_DIR=$scratch/run XDG_CONFIG_HOME=$scratch/home/.config
unset XDG_DATA_HOME XDG_CACHE_HOME
export CADRIO_PLUGIN_PATH=$(realpath "$(dirname "$plugin")")
export CADRIO_PLUGINKIT=$(realpath "$pluginkit") CADRIO_FILEPROVIDERD=$(realpath "$daemon")
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
echo "$(nproc) cores; load $(cut -d' ' -f1-3 /proc/loadavg); CHANGES=${CHANGES:-50}"
# The logs of the model, the host and the plug-in go to standard error: kept
# apart from the figures.
dbus-run-session -- sh -c \
  'echo -n cadrio | gnome-keyring-daemon --unlock --components=secrets >/dev/null 2>&1; exec "$@"' \
  sh "$bench" "$(realpath "$server")" "$CADRIO_FILEPROVIDERD" 2>"$scratch/stderr" || { tail -40 "$scratch/stderr" >&2; exit 1; }

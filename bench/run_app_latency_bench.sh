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
. "$(dirname "$0")/bench_session.sh"

build=${1:-build}
bench=$build/bench/app_latency_bench
server=$build/devserver/cadrio-devserver
daemon=$build/platform/host/programs/cadrio-fileproviderd
plugin=$build/fileprovider/zelvano-cadrio-fileprovider.so
pluginkit=$build/platform/host/programs/cadrio-pluginkit
bench_require app_latency_bench "$bench" "$server" "$daemon" "$plugin" "$pluginkit"
bench_private_home
export CADRIO_PLUGIN_PATH=$(realpath "$(dirname "$plugin")")
export CADRIO_PLUGINKIT=$(realpath "$pluginkit") CADRIO_FILEPROVIDERD=$(realpath "$daemon")
echo "$(nproc) cores; load $(cut -d' ' -f1-3 /proc/loadavg); CHANGES=${CHANGES:-50}"
# The logs of the model, the host and the plug-in go to standard error: kept
# apart from the figures.
bench_run_unlocked "$bench" "$(realpath "$server")" "$CADRIO_FILEPROVIDERD"

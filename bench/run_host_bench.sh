#!/usr/bin/env bash
# The host mounting a large drive through the real plug-in, against the same
# work done natively, in one run (see bench/README.md):
#   warm read of a 1 GiB file, ls -l of 10,000 files, find over 110,000 items,
#   first open-to-first-byte of 1 MiB against curl, first mount and memory;
#   then copies into the mount (1,000 x 4 KiB, 1 GiB) until the drive holds
#   them against cp plus curl, a 1 MiB edit from close() to the drive, and
#   CPU while idle.
#
# usage: sudo bench/run_host_bench.sh [BUILD_DIR]
#        (targets host_bench transfer_bench zelvano-cadrio-fileprovider)
# env:   FILES (100000), FOLDERS (10000), LS_FILES (10000), BIG_MIB (1024), RUNS (3),
#        COPY_FILES (1000), IDLE_SECONDS (10)
# Needs root, /dev/fuse, curl, dbus-run-session and gnome-keyring-daemon.
set -euo pipefail
. "$(dirname "$0")/bench_session.sh"

build=${1:-build}
bench=$build/bench/host_bench
plugin=$build/fileprovider/zelvano-cadrio-fileprovider.so
TRANSFER_BENCH=$(realpath "$build/bench/transfer_bench")
CURL_MULTIPART=$(realpath "$(dirname "$0")/curl_multipart_upload.sh")
export TRANSFER_BENCH CURL_MULTIPART
bench_require host_bench "$bench" "$plugin" "$TRANSFER_BENCH"
bench_private_home
echo "$(nproc) cores; load $(cut -d' ' -f1-3 /proc/loadavg); FILES=${FILES:-100000} FOLDERS=${FOLDERS:-10000}" \
  "LS_FILES=${LS_FILES:-10000} BIG_MIB=${BIG_MIB:-1024} RUNS=${RUNS:-3}"
# The plug-in's logs go to standard error: kept apart from the figures.
bench_run_unlocked "$bench" "$(realpath "$plugin")"

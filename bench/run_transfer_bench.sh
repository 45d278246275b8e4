#!/usr/bin/env bash
# Our transfers against the public tools, on this machine, in one run:
#   hashing a 1 GiB file          ContentHasher          vs  sha256sum
#   1 GiB download through grant  CurlTransport to file  vs  curl -o
#   256 MiB multipart upload      DriveAPI::createFile   vs  curl PUTting the same parts
# against a cadrio-devserver on loopback. Each pair runs RUNS times,
# alternating, and the best time of each side is compared.
#
# usage: bench/run_transfer_bench.sh [BUILD_DIR]     (a Release build: -DCMAKE_BUILD_TYPE=Release)
# env:   RUNS (default 3), HASH_MIB (1024), DOWNLOAD_MIB (1024), UPLOAD_MIB (256), WORK_DIR (mktemp)
set -euo pipefail

build=${1:-build}
bench=$build/bench/transfer_bench
devserver=$build/devserver/cadrio-devserver
runs=${RUNS:-3}
mib=$((1024 * 1024))
for program in "$bench" "$devserver"; do
  [[ -x $program ]] || { echo "missing $program: build transfer_bench and cadrio-devserver in $build" >&2; exit 2; }
done
command -v curl >/dev/null && command -v sha256sum >/dev/null || { echo "curl and sha256sum are needed" >&2; exit 2; }

work=${WORK_DIR:-$(mktemp -d)}
server_pid=
cleanup() {
  [[ -n $server_pid ]] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
  [[ -z ${WORK_DIR:-} ]] && rm -rf "$work"
  return 0
}
trap cleanup EXIT

# Seconds a command takes, wall clock; its output goes to $work/out.
timed() {
  local start=$EPOCHREALTIME
  "$@" >"$work/out"
  awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.4f", b - a }'
}
field() { sed -n "s/.*\\b$1=\\([^ ]*\\).*/\\1/p" "${2:-$work/out}" | head -1; }
best() { printf '%s\n' "$@" | sort -g | head -1; }
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
most() { printf '%s\n' "$@" | sort -g | tail -1; }
# name bytes "ours times" "tool times" tool-name aim: throughputs of the best
# runs, their ratio against the aim, and the ratio of the medians.
report() {
  local ours_best tool_best ours_median tool_median
  ours_best=$(best $3) tool_best=$(best $4) ours_median=$(median $3) tool_median=$(median $4)
  awk -v n="$1" -v bytes="$2" -v ob="$ours_best" -v tb="$tool_best" -v om="$ours_median" \
      -v tm="$tool_median" -v tool="$5" -v aim="$6" 'BEGIN {
    o = bytes / 1048576 / ob; t = bytes / 1048576 / tb; r = o / t
    printf "%-13s ours %5d MiB/s (%.3f s)  %-9s %5d MiB/s (%.3f s)  ratio %.2f (aim >= %s) %-9s median ratio %.2f\n",
           n, o, ob, tool, t, tb, r, aim, (r >= aim ? "ok" : "BELOW AIM"), tm / om }'
}
random_file() { head -c $(($2 * mib)) /dev/urandom >"$1"; }

echo "work dir: $work; $runs runs per side; $(nproc) cores"

# Hashing ----------------------------------------------------------------------
hash_file=$work/hash.bin
random_file "$hash_file" "${HASH_MIB:-1024}"
cat "$hash_file" >/dev/null  # both sides read from the page cache
ours=() tool=()
for ((i = 0; i < runs; i++)); do
  tool+=("$(timed sha256sum "$hash_file")")
  expected=$(cut -d' ' -f1 "$work/out")
  ours+=("$(timed "$bench" hash "$hash_file")")
  [[ $(cat "$work/out") == "$expected" ]] || { echo "hash differs from sha256sum" >&2; exit 1; }
done
hash_bytes=$(stat -c %s "$hash_file")
rm -f "$hash_file"

# The server ---------------------------------------------------------------------
# shellcheck source=bench/devserver_start.sh
source "$(dirname "$0")/devserver_start.sh"
start_devserver "$work" "$devserver"

# Download ---------------------------------------------------------------------------
download_bytes=$((${DOWNLOAD_MIB:-1024} * mib))
file_id=$(curl -sf -H 'Content-Type: application/json' \
  -d "{\"email\":\"demo@cadrio.test\",\"name\":\"bench-download.bin\",\"size\":$download_bytes}" \
  "$base/_admin/drive/files" | sed -n 's/.*"id":\([0-9]*\).*/\1/p')
[[ -n $file_id ]] || { echo "could not seed the download file" >&2; exit 1; }
ours_dl=() tool_dl=()
for ((i = 0; i < runs; i++)); do
  rm -f "$work/dl-ours" "$work/dl-curl"
  "$bench" download "$api" "$file_id" "$work/dl-ours" >"$work/out"
  ours_dl+=("$(field seconds)")
  url=$("$bench" grant "$api" "$file_id")
  tool_dl+=("$(curl -sf -o "$work/dl-curl" -w '%{time_total}' "$url")")
done
cmp -s "$work/dl-ours" "$work/dl-curl" || { echo "downloads differ" >&2; exit 1; }
rm -f "$work/dl-ours" "$work/dl-curl"

# Multipart upload -------------------------------------------------------------------
upload_file=$work/upload.bin
random_file "$upload_file" "${UPLOAD_MIB:-256}"
upload_bytes=$(stat -c %s "$upload_file")
ours_up=() ours_put=() ours_nocomplete=() tool_up=() tool_put=() tool_nocomplete=() rss=()
for ((i = 0; i < runs; i++)); do
  "$bench" upload "$api" "$upload_file" "ours-$i.bin" >"$work/out"
  ours_up+=("$(field seconds)")
  ours_put+=("$(field put_seconds)")
  ours_nocomplete+=("$(awk -v a="$(field seconds)" -v b="$(field complete_seconds)" 'BEGIN { printf "%.4f", a - b }')")
  rss+=("$(field peak_rss_kib)")

  "$bench" open-parts "$api" "$upload_file" "curl-$i.bin" >"$work/open"
  opened=$(field seconds "$work/open")
  part_size=$(field part_size "$work/open")
  rm -f "$work"/part-*
  split -b "$part_size" -d -a 5 "$upload_file" "$work/part-"
  cat "$work"/part-* >/dev/null
  args=()
  n=0
  while read -r url; do
    args+=(-T "$(printf '%s/part-%05d' "$work" "$n")" -o /dev/null "$url")
    n=$((n + 1))
  done < <(sed -n 's/^url=//p' "$work/open")
  : >"$work/headers"
  put=$(curl -sf -D "$work/headers" -w '%{time_total}\n' "${args[@]}" | awk '{ s += $1 } END { printf "%.4f", s }')
  tr -d '\r' <"$work/headers" | sed -n 's/^[Ee][Tt][Aa][Gg]: *//p' >"$work/etags"
  [[ $(wc -l <"$work/etags") -eq $n ]] || { echo "curl got $(wc -l <"$work/etags") ETags for $n parts" >&2; exit 1; }
  "$bench" complete "$api" "$upload_file" "curl-$i.bin" "$(field upload_id "$work/open")" \
    "$(field s3_key "$work/open")" "$work/etags" >"$work/out"
  tool_put+=("$put")
  tool_nocomplete+=("$(awk -v a="$opened" -v b="$put" 'BEGIN { printf "%.4f", a + b }')")
  tool_up+=("$(awk -v a="$opened" -v b="$put" -v c="$(field seconds)" 'BEGIN { printf "%.4f", a + b + c }')")
done
rm -f "$work"/part-* "$upload_file"

echo
report hash "$hash_bytes" "${ours[*]}" "${tool[*]}" sha256sum 0.9
report download "$download_bytes" "${ours_dl[*]}" "${tool_dl[*]}" "curl -o" 0.8
report upload "$upload_bytes" "${ours_up[*]}" "${tool_up[*]}" curl 0.8
report "  before-compl" "$upload_bytes" "${ours_nocomplete[*]}" "${tool_nocomplete[*]}" curl 0.8
report "  part PUTs" "$upload_bytes" "${ours_put[*]}" "${tool_put[*]}" curl 0.8
echo "upload: the whole operation on both sides (init, presigns, part PUTs, completion); 'before-compl'"
echo "leaves out the completion (mostly the server assembling the parts); 'part PUTs' is the transfers"
echo "alone. Peak resident memory of the uploading client: $(most "${rss[@]}") KiB (${UPLOAD_MIB:-256} MiB"
echo "file, parts of $part_size bytes)."
echo "all runs (s): hash ours ${ours[*]} / sha256sum ${tool[*]}"
echo "              download ours ${ours_dl[*]} / curl ${tool_dl[*]}"
echo "              upload ours ${ours_up[*]} / curl ${tool_up[*]}"

#!/usr/bin/env bash
# A new drive file sent as a public tool sends it: transfer_bench opens the
# multipart upload and presigns the parts, curl PUTs them (one process, one
# connection), transfer_bench completes with the ETags curl got back.
#
# usage: bench/curl_multipart_upload.sh TRANSFER_BENCH API FILE NAME WORK_DIR
set -euo pipefail
transfer=$1 api=$2 file=$3 name=$4 work=$5
field() { sed -n "s/.*\\b$1=\\([^ ]*\\).*/\\1/p" "$2" | head -1; }

"$transfer" open-parts "$api" "$file" "$name" >"$work/open"
rm -f "$work"/part-*
split -b "$(field part_size "$work/open")" -d -a 5 "$file" "$work/part-"
args=() n=0
while read -r url; do
  args+=(-T "$(printf '%s/part-%05d' "$work" "$n")" -o /dev/null "$url")
  n=$((n + 1))
done < <(sed -n 's/^url=//p' "$work/open")
: >"$work/headers"
curl -sf -D "$work/headers" "${args[@]}"
tr -d '\r' <"$work/headers" | sed -n 's/^[Ee][Tt][Aa][Gg]: *//p' >"$work/etags"
"$transfer" complete "$api" "$file" "$name" "$(field upload_id "$work/open")" "$(field s3_key "$work/open")" \
  "$work/etags" >/dev/null
rm -f "$work"/part-*

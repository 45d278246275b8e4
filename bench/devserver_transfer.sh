#!/usr/bin/env bash
# How fast cadrio-devserver moves contents on loopback, measured with curl:
#   download  a 1 GiB file through its presigned URL (curl -o /dev/null)
#   upload    a 256 MiB file in 8 MiB parts PUT to presigned URLs, then the
#             completion (the server assembles and hashes the parts)
# For scale, the same curl reads the same number of bytes from a local file
# (file://), which no server can beat on this machine.
#
# usage: bench/devserver_transfer.sh [BUILD_DIR]      (default: build; a Release build is best)
# env:   RUNS (default 3), DOWNLOAD_MIB (1024), UPLOAD_MIB (256), PART_MIB (8), WORK_DIR (mktemp)
set -euo pipefail

build=${1:-build}
devserver=$build/devserver/cadrio-devserver
runs=${RUNS:-3}
mib=$((1024 * 1024))
download_bytes=$((${DOWNLOAD_MIB:-1024} * mib))
upload_bytes=$((${UPLOAD_MIB:-256} * mib))
part_bytes=$((${PART_MIB:-8} * mib))
[[ -x $devserver ]] || { echo "missing $devserver: build cadrio-devserver in $build" >&2; exit 2; }
command -v curl >/dev/null && command -v sha256sum >/dev/null || { echo "curl and sha256sum are needed" >&2; exit 2; }

work=${WORK_DIR:-$(mktemp -d)}
server_pid=
cleanup() {
  [[ -n $server_pid ]] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
  [[ -z ${WORK_DIR:-} ]] && rm -rf "$work"
  return 0
}
trap cleanup EXIT

json_text() { sed -n "s/.*\"$1\":\"\\([^\"]*\\)\".*/\\1/p"; }
json_int() { sed -n "s/.*\"$1\":\\([0-9]*\\).*/\\1/p"; }
best() { printf '%s\n' "$@" | sort -g | head -1; }
mibps() { awk -v bytes="$1" -v s="$2" 'BEGIN { printf "%.0f", bytes / 1048576 / s }'; }
now() { echo "$EPOCHREALTIME"; }
since() { awk -v a="$1" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.4f", b - a }'; }

echo "work dir: $work; $runs runs; $(nproc) cores; load $(cut -d' ' -f1-3 /proc/loadavg)"

# shellcheck source=bench/devserver_start.sh
source "$(dirname "$0")/devserver_start.sh"
start_devserver "$work" "$devserver"
token=$(curl -sf -H 'Content-Type: application/json' \
  -d '{"email":"demo@cadrio.test","password":"cadrio-demo","supports_2fa":true}' \
  "$api/auth/login-jmap" | json_text access_token)
[[ -n $token ]] || { echo "sign-in failed" >&2; exit 1; }
call() {  # METHOD PATH [JSON]
  curl -sf -X "$1" -H "Authorization: Bearer $token" -H 'Content-Type: application/json' \
    ${3:+-d "$3"} "$api$2"
}

# Download ---------------------------------------------------------------------
file_id=$(curl -sf -H 'Content-Type: application/json' \
  -d "{\"email\":\"demo@cadrio.test\",\"name\":\"bench-download.bin\",\"size\":$download_bytes}" \
  "$base/_admin/drive/files" | json_int id)
[[ -n $file_id ]] || { echo "could not create the download file" >&2; exit 1; }
reference=$work/reference.bin
head -c "$download_bytes" /dev/urandom >"$reference"
download=() local_read=()
for ((i = 0; i < runs; i++)); do
  url=$(call GET "/drive/files/$file_id/download-url" | json_text url)
  out=$(curl -sf -o /dev/null -w '%{size_download} %{time_total}' "$url")
  [[ ${out% *} -eq $download_bytes ]] || { echo "download got ${out% *} bytes" >&2; exit 1; }
  download+=("${out#* }")
  local_read+=("$(curl -sf -o /dev/null -w '%{time_total}' "file://$reference")")
done
rm -f "$reference"

# Multipart upload -------------------------------------------------------------
upload_file=$work/upload.bin
head -c "$upload_bytes" /dev/urandom >"$upload_file"
upload_hash=$(sha256sum "$upload_file" | cut -d' ' -f1)
split -b "$part_bytes" -d -a 5 "$upload_file" "$work/part-"
parts=("$work"/part-*)
whole=() puts=() completes=() local_parts=()
for ((i = 0; i < runs; i++)); do
  start=$(now)
  init=$(call POST /drive/upload/multipart/init \
    "{\"file_name\":\"bench-$i.bin\",\"file_size\":$upload_bytes,\"id_folder\":0,\"content_type\":\"application/octet-stream\",\"storage_class\":\"standard\"}")
  upload_id=$(json_text upload_id <<<"$init")
  s3_key=$(json_text s3_key <<<"$init")
  # Every presign in one curl run (one connection), as a client would.
  presigns=()
  for ((n = 0; n < ${#parts[@]}; n++)); do
    ((n > 0)) && presigns+=(--next)
    presigns+=(-sf -H "Authorization: Bearer $token" -H 'Content-Type: application/json'
      -d "{\"s3_key\":\"$s3_key\",\"upload_id\":\"$upload_id\",\"part_number\":$((n + 1))}"
      -w '\n' "$api/drive/upload/multipart/presign")
  done
  args=()
  n=0
  while read -r url; do
    args+=(-T "${parts[n]}" -o /dev/null "$url")
    n=$((n + 1))
  done < <(curl "${presigns[@]}" | json_text url)
  [[ $n -eq ${#parts[@]} ]] || { echo "presigning failed" >&2; exit 1; }
  put_start=$(now)
  curl -sf -D "$work/headers" "${args[@]}"
  puts+=("$(since "$put_start")")
  list=$(tr -d '\r' <"$work/headers" | sed -n 's/^[Ee][Tt][Aa][Gg]: *"\(.*\)"$/\1/p' |
    awk '{ printf "%s{\"PartNumber\":%d,\"ETag\":\"\\\"%s\\\"\"}", (NR > 1 ? "," : ""), NR, $0 }')
  complete_start=$(now)
  done_json=$(call POST /drive/upload/multipart/complete \
    "{\"s3_key\":\"$s3_key\",\"upload_id\":\"$upload_id\",\"parts\":[$list],\"file_name\":\"bench-$i.bin\",\"file_size\":$upload_bytes,\"id_folder\":0,\"content_type\":\"application/octet-stream\",\"storage_class\":\"standard\",\"content_hash\":\"$upload_hash\"}")
  completes+=("$(since "$complete_start")")
  whole+=("$(since "$start")")
  [[ -n $(json_int id <<<"$done_json") ]] || { echo "completion failed: $done_json" >&2; exit 1; }
  local_args=()
  for part in "${parts[@]}"; do local_args+=(-o /dev/null "file://$part"); done
  local_start=$(now)
  curl -sf "${local_args[@]}"
  local_parts+=("$(since "$local_start")")
done

echo
printf '%-34s %6s MiB/s  (best %.3f s)\n' \
  "download ${DOWNLOAD_MIB:-1024} MiB, presigned URL" "$(mibps "$download_bytes" "$(best "${download[@]}")")" "$(best "${download[@]}")" \
  "  curl reading a local file" "$(mibps "$download_bytes" "$(best "${local_read[@]}")")" "$(best "${local_read[@]}")" \
  "upload ${UPLOAD_MIB:-256} MiB, part PUTs" "$(mibps "$upload_bytes" "$(best "${puts[@]}")")" "$(best "${puts[@]}")" \
  "upload, completion alone" "$(mibps "$upload_bytes" "$(best "${completes[@]}")")" "$(best "${completes[@]}")" \
  "upload, whole (init..complete)" "$(mibps "$upload_bytes" "$(best "${whole[@]}")")" "$(best "${whole[@]}")" \
  "  curl reading the parts locally" "$(mibps "$upload_bytes" "$(best "${local_parts[@]}")")" "$(best "${local_parts[@]}")"
echo "all runs (s): download ${download[*]}; part PUTs ${puts[*]}; completion ${completes[*]}; whole upload ${whole[*]}"
echo "(the whole upload runs three curl processes for init, presigns and completion, one for the PUTs)"

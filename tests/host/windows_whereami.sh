#!/usr/bin/env bash
# The Windows host end to end: vexa-host.exe under wine, on a free port, loads the Windows
# plugin and answers whereami through a real socket with the sample address's country, as the
# Linux host does. The host's own suites start it with fork and exec and stay Linux's.
#
#   windows_whereami.sh <wine-run> <wine prefix> <vexa-host.exe> <scratch folder>
set -euo pipefail
wine_run=$1 prefix=$2 host=$3 scratch=$4
rm -rf "$scratch"
mkdir -p "$scratch/data/settings"
# An older location saved before: the new one must replace it (MoveFileExW over an existing
# file, which a plain rename on Windows refuses).
printf '%s\n' '{"data":{"city":"Paris","country":"FR","region":""},"schemaVersion":1}' \
  >"$scratch/data/settings/GeoInfo.json"

"$wine_run" "$prefix" "$host" --port 0 --data-dir "$scratch/data" >"$scratch/stdout" \
  2>"$scratch/stderr" &
host_pid=$!
# shellcheck disable=SC2064 # the process is known now
trap "kill $host_pid 2>/dev/null || true; wait $host_pid 2>/dev/null || true" EXIT

# The host prints the port it listens on once it serves; it has half a minute to get there.
port=
for _ in $(seq 1 300); do
  port=$(sed -n 's|^listening on http://127.0.0.1:\([0-9]*\).*|\1|p' "$scratch/stdout" | tr -d '\r')
  [ -n "$port" ] && break
  kill -0 "$host_pid" 2>/dev/null || break
  sleep 0.1
done
if [ -z "$port" ]; then
  echo "the host never said where it listens" >&2
  cat "$scratch/stdout" "$scratch/stderr" >&2
  exit 1
fi

body=$(curl -sS --max-time 20 "http://127.0.0.1:$port/kor-geoinfo/v1/whereami")
echo "whereami: $body"
# 193.99.144.80, the default public address, is in Germany in Debian's GeoIP data.
case "$body" in
  *'"country":"DE"'*) ;;
  *) echo "whereami did not answer the sample address's country" >&2; exit 1 ;;
esac

# Unknown paths are refused by the router rather than answered.
status=$(curl -sS -o /dev/null -w '%{http_code}' --max-time 20 "http://127.0.0.1:$port/kor-geoinfo/v1/nowhere")
[ "$status" = 404 ] || { echo "an unknown path answered $status, not 404" >&2; exit 1; }
# The plugin keeps the location in the settings store: written through the Windows path of the
# atomic replacement, whole, with no line end translation.
saved="$scratch/data/settings/GeoInfo.json"
expected='{"data":{"city":"","country":"DE","region":""},"schemaVersion":1}'
for _ in $(seq 1 100); do
  [ "$(cat "$saved")" = "$expected" ] && break
  sleep 0.1
done
[ "$(cat "$saved" 2>/dev/null)" = "$expected" ] && [ "$(tail -c 1 "$saved" | od -An -c | tr -d ' ')" = '\n' ] ||
  { echo "the saved location is not the whole document with its line end:" >&2; od -c "$saved" >&2; exit 1; }
if ls "$scratch/data/settings" | grep -q tmp; then
  echo "a temporary settings file was left behind" >&2
  exit 1
fi
# SIGINT reaches the program as Ctrl-C under wine: the host stops in order and says so.
kill -INT "$host_pid"
for _ in $(seq 1 100); do
  kill -0 "$host_pid" 2>/dev/null || break
  sleep 0.1
done
grep -q "stopped" "$scratch/stderr" ||
  { echo "the host did not stop in order on Ctrl-C:" >&2; tail -5 "$scratch/stderr" >&2; exit 1; }
echo "ok"

#!/usr/bin/env bash
# Starts and stops the demo's fake servers, on 127.0.0.1 with the sample account.
#
#   tools/demo/servers.sh start DIR   test CA, sample data, the fake Google and the fake Gmail
#                                      IMAP server; when both answer, writes DIR/servers.env
#                                      (shell assignments: the ports, the server PIDs and the
#                                      TDW_HOST_MAP, TDW_EXTRA_CA and TDW_AUTHORIZATION_URL the
#                                      program needs)
#   tools/demo/servers.sh stop DIR    stops the servers that "start DIR" started, and nothing else
#
# The servers keep running after "start" returns; whoever starts them stops them. Should the
# process that ran "start" end first, even killed outright, the servers end with it.
#
# The fake Gmail IMAP server takes the access tokens the fake Google server issues, so a
# sign-in through the consent page logs in to both. The consent page is also served on the
# fake Google's plain-HTTP port under 127.0.0.1 (TDW_AUTHORIZATION_URL), for a browser, which
# neither follows the program's host map nor trusts the test CA.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
google_server=$root/tools/fake-google/fake_google.py
imap_server=$root/tools/fake-imap/fake_gmail_imap.py
# The hosts the program reaches over HTTP; the test CA's certificate names them all.
mapped_hosts=(accounts.google.com oauth2.googleapis.com www.googleapis.com www.google.com
              mail.google.com docs.google.com picasaweb.google.com)

usage() {
  echo "usage: $0 start|stop DIR" >&2
  exit 2
}

# The system interpreter: the fakes need nothing beyond the standard library.
python=python3
[[ -x /usr/bin/python3 ]] && python=/usr/bin/python3

# True when PID is still the server started from SCRIPT (a PID may have been reused since).
is_our_server() {
  local pid=$1 script=$2
  [[ -r /proc/$pid/cmdline ]] && tr '\0' '\n' < "/proc/$pid/cmdline" | grep -qxF -- "$script"
}

stop_servers() {
  local dir=$1 pid script pids=()
  [[ -f $dir/servers.pids ]] || return 0
  while read -r pid script; do
    if is_our_server "$pid" "$script"; then
      kill -TERM "$pid" 2>/dev/null || true
      pids+=("$pid:$script")
    fi
  done < "$dir/servers.pids"
  local entry tries
  for entry in "${pids[@]}"; do
    pid=${entry%%:*} script=${entry#*:}
    for ((tries = 0; tries < 100; tries++)); do
      is_our_server "$pid" "$script" || break
      sleep 0.1
    done
    if is_our_server "$pid" "$script"; then
      echo "demo: server $pid did not stop on SIGTERM; killing it" >&2
      kill -KILL "$pid" 2>/dev/null || true
    fi
  done
  rm -f "$dir/servers.pids" "$dir/servers.env"
}

# Waits until FILE has a line, while PID lives; fails with the server's log otherwise.
wait_for_line() {
  local file=$1 pid=$2 log=$3 tries
  for ((tries = 0; tries < 600; tries++)); do
    if [[ -s $file ]] && [[ $(tail -c 1 "$file") == "" ]]; then
      return 0
    fi
    if ! kill -0 "$pid" 2>/dev/null; then
      echo "demo: a server did not start:" >&2
      cat "$log" >&2
      return 1
    fi
    sleep 0.1
  done
  echo "demo: a server did not answer within a minute" >&2
  return 1
}

start_servers() {
  local dir=$1
  mkdir -p "$dir"
  "$root/tools/testca/make-testca.sh" "$dir/testca" > /dev/null
  local address
  address=$("$python" "$root/tools/demo/make_sample.py" "$dir/sample")
  rm -f "$dir/google.ready" "$dir/imap.ready"
  : > "$dir/servers.pids"
  # Whatever fails from here on leaves no server behind.
  trap 'stop_servers "$dir"' EXIT
  trap 'exit 1' INT TERM
  local starter=$PPID

  "$python" "$google_server" --tls-dir "$dir/testca" --scenario "$dir/sample/google.json" \
    --watch-pid "$starter" < /dev/null > "$dir/google.ready" 2> "$dir/google.log" &
  local google_pid=$!
  echo "$google_pid $google_server" >> "$dir/servers.pids"
  wait_for_line "$dir/google.ready" "$google_pid" "$dir/google.log"
  local ports https_port http_port imap_port control_port
  ports=$("$python" -c 'import json,sys; p=json.load(open(sys.argv[1])); print(p["http_port"], p["https_port"])' "$dir/google.ready")
  read -r http_port https_port <<< "$ports"

  "$python" "$imap_server" --tls-dir "$dir/testca" --scenario "$dir/sample/imap.json" \
    --google-port "$http_port" --exit-with-pid "$starter" \
    --port-file "$dir/imap.ready" < /dev/null > /dev/null 2> "$dir/imap.log" &
  local imap_pid=$!
  echo "$imap_pid $imap_server" >> "$dir/servers.pids"
  wait_for_line "$dir/imap.ready" "$imap_pid" "$dir/imap.log"

  imap_port=$(sed -n 's/.*\bport=\([0-9]*\).*/\1/p' "$dir/imap.ready")
  control_port=$(sed -n 's/.*control_port=\([0-9]*\).*/\1/p' "$dir/imap.ready")

  local host map=()
  for host in "${mapped_hosts[@]}"; do
    map+=("$host:80=127.0.0.1:$http_port" "$host=127.0.0.1:$https_port")
  done
  local joined
  joined=$(IFS=,; echo "${map[*]}")
  {
    printf 'GOOGLE_PID=%q\n' "$google_pid"
    printf 'GOOGLE_HTTP_PORT=%q\n' "$http_port"
    printf 'GOOGLE_HTTPS_PORT=%q\n' "$https_port"
    printf 'IMAP_PID=%q\n' "$imap_pid"
    printf 'IMAP_PORT=%q\n' "$imap_port"
    printf 'IMAP_CONTROL_PORT=%q\n' "$control_port"
    printf 'DEMO_ADDRESS=%q\n' "$address"
    printf 'TDW_HOST_MAP=%q\n' "$joined"
    printf 'TDW_EXTRA_CA=%q\n' "$dir/testca/ca.pem"
    printf 'TDW_AUTHORIZATION_URL=%q\n' "http://127.0.0.1:$http_port/o/oauth2/auth"
  } > "$dir/servers.env"
  trap - EXIT INT TERM
}

[[ $# -eq 2 ]] || usage
case $1 in
  start) start_servers "$2" ;;
  stop) stop_servers "$2" ;;
  *) usage ;;
esac

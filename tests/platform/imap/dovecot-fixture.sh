#!/usr/bin/env bash
# Starts (start ROOT) or stops (stop ROOT) the Dovecot peer for the IMAP tests:
# a fresh mailbox of 300 generated messages, plus a folder "Big" holding one
# 6 MB message for the streaming tests.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
peer=$here/../../../tools/imap-peer
mode=${1:?usage: dovecot-fixture.sh start|stop ROOT}
root=${2:?usage: dovecot-fixture.sh start|stop ROOT}
user=alice@example.com

case $mode in
  start)
    [ -d "$root" ] && "$peer/dovecot/stop.sh" "$root" >/dev/null 2>&1 || true
    rm -rf "$root"
    "$peer/dovecot/start.sh" "$root" --messages 300
    doveadm=(doveadm -c "$root/dovecot.conf")
    "${doveadm[@]}" mailbox create -u "$user" Big
    python3 - >"$root/big.eml" <<'PY'
import base64, random
r = random.Random(7)
print("From: Big Sender <big@example.org>\nTo: alice@example.com\nSubject: A big one\n"
      "Date: Mon, 1 Feb 2021 10:00:00 +0000\nMessage-ID: <big.1@example.org>\nMIME-Version: 1.0\n"
      "Content-Type: application/octet-stream\nContent-Transfer-Encoding: base64\n")
data = base64.encodebytes(r.randbytes(4_600_000)).decode()
print(data, end="")
PY
    "${doveadm[@]}" save -u "$user" -m Big <"$root/big.eml"
    ;;
  stop)
    "$peer/dovecot/stop.sh" "$root"
    ;;
  *)
    echo "usage: dovecot-fixture.sh start|stop ROOT" >&2
    exit 2
    ;;
esac

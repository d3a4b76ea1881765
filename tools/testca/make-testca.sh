#!/usr/bin/env bash
# Makes a throw-away certificate authority and one server certificate signed by it, for the
# fake servers of the test suite (IMAP and HTTPS on 127.0.0.1).
#
#   make-testca.sh OUTDIR
#
# Writes OUTDIR/ca.pem, ca.key, server.pem, server.key (keys mode 0600). A second call reuses
# what is there while it is still valid for a day and was made for the same names, so every
# test may call it; concurrent calls on one OUTDIR are serialised by a lock file.
set -euo pipefail

if [[ $# -ne 1 || -z "$1" ]]; then
  echo "usage: $0 OUTDIR" >&2
  exit 2
fi
out=$1
command -v openssl >/dev/null || { echo "openssl is not installed. On Debian/Ubuntu: apt-get install -y openssl" >&2; exit 1; }
command -v flock >/dev/null || { echo "flock is not installed. On Debian/Ubuntu: apt-get install -y util-linux" >&2; exit 1; }

days=${TESTCA_DAYS:-30}
# Every host name the program talks to, so a test may point any of them at 127.0.0.1.
names=(localhost imap.gmail.com gmail.com '*.gmail.com'
       google.com www.google.com '*.google.com' accounts.google.com mail.google.com
       docs.google.com picasaweb.google.com
       googleapis.com www.googleapis.com oauth2.googleapis.com '*.googleapis.com'
       '*.googleusercontent.com')
# 127.0.0.1 also as a DNS name: some clients (mbsync) match the host they were given only
# against DNS names, never against IP addresses.
san="IP:127.0.0.1,IP:::1,DNS:127.0.0.1"
for n in "${names[@]}"; do san+=",DNS:$n"; done
params="days=$days san=$san"

mkdir -p "$out"
exec 9>"$out/.lock"
flock 9

still_good() {
  local f
  for f in ca.pem ca.key server.pem server.key params; do [[ -s "$out/$f" ]] || return 1; done
  [[ "$(cat "$out/params")" == "$params" ]] || return 1
  # One call checks the chain and that both certificates still hold a day from now.
  openssl verify -attime $(( $(date +%s) + 86400 )) -CAfile "$out/ca.pem" "$out/server.pem" >/dev/null 2>&1
}
if still_good; then
  exit 0
fi

tmp=$(mktemp -d "$out/.new.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
umask 077
# openssl chatters on stderr even when it succeeds; show its words only when a step fails.
quiet() { "$@" 2>"$tmp/err" || { cat "$tmp/err" >&2; echo "make-testca.sh: failed: $1 $2" >&2; return 1; }; }

# P-256 keys: generated in milliseconds, and every TLS stack in use accepts them.
quiet openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$tmp/ca.key"
quiet openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$tmp/server.key"

cat > "$tmp/ext.cnf" <<CNF
[req]
distinguished_name = dn
[dn]
[ca]
basicConstraints = critical, CA:TRUE, pathlen:0
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[server]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = serverAuth
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
subjectAltName = $san
CNF

# A random serial and subject per CA, so certificates of two runs never collide in a client's cache.
serial=$(openssl rand -hex 16)
quiet openssl req -new -x509 -key "$tmp/ca.key" -subj "/O=Tidewell tests/CN=Tidewell Test CA $serial" \
  -days "$days" -sha256 -set_serial "0x$serial" \
  -config "$tmp/ext.cnf" -extensions ca -out "$tmp/ca.pem"
quiet openssl req -new -key "$tmp/server.key" -subj "/O=Tidewell tests/CN=localhost" \
  -config "$tmp/ext.cnf" -out "$tmp/server.csr"
quiet openssl x509 -req -in "$tmp/server.csr" -CA "$tmp/ca.pem" -CAkey "$tmp/ca.key" \
  -set_serial "0x$(openssl rand -hex 16)" -days "$days" -sha256 \
  -extfile "$tmp/ext.cnf" -extensions server -out "$tmp/server.pem"
quiet openssl verify -CAfile "$tmp/ca.pem" "$tmp/server.pem" >/dev/null

printf '%s' "$params" > "$tmp/params"
chmod 644 "$tmp/ca.pem" "$tmp/server.pem" "$tmp/params"
for f in ca.key server.key ca.pem server.pem params; do mv -f "$tmp/$f" "$out/$f"; done

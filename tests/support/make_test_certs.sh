#!/usr/bin/env bash
# make_test_certs.sh DIR: mints the TLS tests' certificates with the openssl
# command, fresh for each run (no key is kept in the tree):
#   ca.pem                the test CA the tests trust
#   server.pem/.key       for 127.0.0.1 (IP and DNS entries: Wine's WinINet
#                         matches only DNS entries, OpenSSL the IP entry)
#   wrong-host.pem/.key   signed by the CA, for another host name only
#   expired.pem/.key      signed by the CA, for 127.0.0.1, expired in 2020
#   untrusted.pem/.key    for 127.0.0.1, signed by a CA nobody trusts
set -euo pipefail
dir=$1
mkdir -p "$dir"
cd "$dir"
rm -rf ca-db && mkdir ca-db && touch ca-db/index.txt && echo 1000 >ca-db/serial

new_ca() { # new_ca NAME SUBJECT
  openssl req -x509 -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.pem" -days 30 \
    -subj "$2" -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
}

# sign NAME CA SAN [START END]: a server certificate for SAN, signed by CA.
sign() {
  local name=$1 ca=$2 san=$3 start=${4:-} end=${5:-}
  openssl req -newkey rsa:2048 -nodes -keyout "$name.key" -out "$name.csr" -subj "/CN=${name}" 2>/dev/null
  cat >"$name.ext" <<EXT
[ca]
default_ca = test_ca
[test_ca]
database = ca-db/index.txt
serial = ca-db/serial
new_certs_dir = ca-db
default_md = sha256
policy = any
unique_subject = no
copy_extensions = none
[any]
commonName = supplied
[server]
basicConstraints = CA:FALSE
keyUsage = critical,digitalSignature,keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = $san
EXT
  local dates=(-days 30)
  [ -n "$start" ] && dates=(-startdate "$start" -enddate "$end")
  openssl ca -batch -config "$name.ext" -extensions server -cert "$ca.pem" -keyfile "$ca.key" \
    -in "$name.csr" -out "$name.pem" -notext "${dates[@]}" 2>/dev/null
  rm -f "$name.csr" "$name.ext"
}

new_ca ca "/CN=Tollgrove test CA"
new_ca other-ca "/CN=Untrusted test CA"
sign server ca "IP:127.0.0.1,DNS:127.0.0.1,DNS:localhost"
sign wrong-host ca "DNS:files.example.invalid"
sign expired ca "IP:127.0.0.1,DNS:127.0.0.1,DNS:localhost" 20200101000000Z 20200201000000Z
sign untrusted other-ca "IP:127.0.0.1,DNS:127.0.0.1,DNS:localhost"
rm -f other-ca.key

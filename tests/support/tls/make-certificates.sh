#!/bin/sh
# Makes the test certificates in this folder: two authorities, a and b, and for each a
# server certificate for 127.0.0.1 that it signed. They are kept in the repository so that
# no test run has to make keys; run this again only to replace them.
set -eu
cd "$(dirname "$0")"
printf 'subjectAltName=IP:127.0.0.1\n' >san.tmp
for name in a b; do
  openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 36500 \
    -subj "/CN=Tarnwick test authority $name" -keyout ca-$name.key -out ca-$name.pem 2>/dev/null
  openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes \
    -subj /CN=127.0.0.1 -keyout server-$name.key -out server-$name.csr 2>/dev/null
  openssl x509 -req -in server-$name.csr -CA ca-$name.pem -CAkey ca-$name.key -CAcreateserial \
    -days 36500 -extfile san.tmp -out server-$name.pem 2>/dev/null
  rm -f server-$name.csr ca-$name.key ca-$name.srl
done
rm -f san.tmp

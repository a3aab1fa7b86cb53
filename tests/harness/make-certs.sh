#!/usr/bin/env bash
# make-certs.sh DIR: the test run's certificates, made once per DIR with openssl.
#   ca.pem/ca.der          test root CA, added to the prefix's Root store
#   localhost.pem/.key     server certificate, CN=localhost, signed by the CA
#   expired.pem/.key       the same name, expired
#   wronghost.pem/.key     CN=wronghost.invalid, signed by the CA
set -eu
dir=${1:?folder}
mkdir -p "$dir"
cd "$dir"
[ -f done ] && exit 0
openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 3650 \
  -subj "/CN=Tarnwick Test Root CA" -addext "basicConstraints=critical,CA:TRUE" \
  -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
openssl x509 -in ca.pem -outform der -out ca.der
server_cert() { # name CN startdate enddate
  openssl req -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.csr" -subj "/CN=$2" 2>/dev/null
  printf 'basicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\nsubjectAltName=DNS:%s\n' "$2" > "$1.ext"
  openssl x509 -req -in "$1.csr" -CA ca.pem -CAkey ca.key -set_serial "0x$(openssl rand -hex 8)" \
    -not_before "$3" -not_after "$4" -extfile "$1.ext" -out "$1.pem" 2>/dev/null \
  || { # openssl 3.0 has no -not_before: fall back to the ca command
    mkdir -p ca.db && : > ca.db/index && echo 01 > ca.db/serial
    openssl ca -batch -config <(printf '[ca]\ndefault_ca=d\n[d]\ndatabase=ca.db/index\nserial=ca.db/serial\nnew_certs_dir=ca.db\ndefault_md=sha256\npolicy=p\n[p]\ncommonName=supplied\n') \
      -cert ca.pem -keyfile ca.key -in "$1.csr" -startdate "$3" -enddate "$4" -extfile "$1.ext" -out "$1.pem" 2>/dev/null
  }
}
server_cert localhost localhost 20200101000000Z 20491231000000Z
server_cert expired localhost 20200101000000Z 20210101000000Z
server_cert wronghost wronghost.invalid 20200101000000Z 20491231000000Z
touch done

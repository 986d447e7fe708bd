#!/usr/bin/env bash
# Makes a fresh set of TLS test certificates (EC P-256, SHA-256) for the loopback peers.
# Usage: make-certs.sh OUT_DIR [EXTRA_DNS_NAME...]
#
# OUT_DIR gets root.pem/root.der (the root the tests trust), intermediate.pem (signs the leaves),
# untrusted-root.pem (never trusted), and CASE.key/CASE.pem for each case below; CASE.pem is the
# chain a server sends, leaf first. The CAs cover 90 days back to 2 years ahead, so a leaf's dates
# are the only thing wrong with it. No CRL or AIA addresses: nothing to fetch on loopback.
set -euo pipefail
OUT=${1:?usage: make-certs.sh OUT_DIR [EXTRA_DNS_NAME...]}
shift
EXTRA_NAMES=("$@")
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
# Each run's CAs carry their own names: roots of earlier runs (and of other harnesses sharing a
# Wine prefix) stay in stores, and a chain engine looking for an issuer by name never meets them.
RUN_ID=$(openssl rand -hex 4)

quiet() { # command... : prints its output only when it fails
  "$@" >"$WORK/log" 2>&1 || { cat "$WORK/log" >&2; return 1; }
}

stamp() { # offset in days from now: an openssl ca date
  date -u -d "$1 days" +%Y%m%d%H%M%SZ
}

write_config() {
  cat > "$WORK/ca.cnf" <<CONF
[ca]
default_ca = this_ca
[this_ca]
dir = \$ENV::CA_DIR
database = \$dir/index.txt
new_certs_dir = \$dir
serial = \$dir/serial
default_md = sha256
policy = any_name
unique_subject = no
email_in_dn = no
[any_name]
commonName = supplied
[root_ca]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[intermediate_ca]
basicConstraints = critical, CA:TRUE, pathlen:0
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid:always
CONF
}

new_key() { # file
  quiet openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$1"
}

new_ca_dir() { # name: a fresh openssl ca database
  rm -rf "${WORK:?}/$1.db"
  mkdir "$WORK/$1.db"
  : > "$WORK/$1.db/index.txt"
  openssl rand -hex 8 > "$WORK/$1.db/serial"
}

# Makes a certificate: subject CN, key, issuer (a CA made here, or "self"), extensions section,
# start and end offsets in days, output file.
certify() {
  local cn=$1 key=$2 issuer=$3 extensions=$4 start=$5 end=$6 out=$7 signer
  quiet openssl req -new -key "$key" -subj "/CN=$cn" -out "$WORK/request.csr"
  if [ "$issuer" = self ]; then
    new_ca_dir self
    signer=(-selfsign -keyfile "$key")
  else
    signer=(-cert "$WORK/$issuer.pem" -keyfile "$WORK/$issuer.key")
  fi
  # Signed again while r or s is short: Wine's crypt32 refuses such a signature (it happens to
  # about one signature in 128, so a chain of this run would fail now and then).
  for _ in 1 2 3 4 5 6 7 8; do
    CA_DIR=$WORK/$issuer.db quiet openssl ca -batch -notext -config "$WORK/ca.cnf" "${signer[@]}" \
      -extfile "$WORK/ca.cnf" -extensions "$extensions" -startdate "$(stamp "$start")" \
      -enddate "$(stamp "$end")" -in "$WORK/request.csr" -out "$out"
    full_length_signature "$out" && return 0
  done
  echo "make-certs.sh: every signature of $cn had a short integer" >&2
  return 1
}

# Whether both integers of the certificate's ECDSA signature (its last BIT STRING) have all 32
# bytes; asn1parse prints their values in hexadecimal without leading zeros.
full_length_signature() { # certificate file
  local offset
  offset=$(openssl asn1parse -in "$1" | awk '/BIT STRING/ {split($1, at, ":"); o = at[1]} END {print o}')
  openssl asn1parse -in "$1" -strparse "$offset" | awk -F: '/INTEGER/ && length($NF) != 64 {short = 1} END {exit short}'
}

make_ca() { # name, CN, issuer (a CA made here, or "self"), extensions section
  new_key "$WORK/$1.key"
  certify "$2 $RUN_ID" "$WORK/$1.key" "$3" "$4" -90 730 "$WORK/$1.pem"
  new_ca_dir "$1"
}

# A leaf extensions section: its name, extended key usage, DNS names.
leaf_extensions() {
  local section=$1 usage=$2 names=() name
  shift 2
  for name in "$@"; do names+=("DNS:$name"); done
  cat >> "$WORK/ca.cnf" <<CONF
[$section]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = $usage
subjectAltName = $(IFS=,; echo "${names[*]}")
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid:always
CONF
}

# A case: name, issuer, extensions section, start and end offsets in days, and what CASE.pem
# holds after the leaf (the issuer's certificate, or nothing).
make_leaf() {
  local name=$1 issuer=$2 extensions=$3 start=$4 end=$5 chain=$6
  new_key "$OUT/$name.key"
  certify localhost "$OUT/$name.key" "$issuer" "$extensions" "$start" "$end" "$WORK/$name.leaf"
  cat "$WORK/$name.leaf" ${chain:+"$WORK/$chain.pem"} > "$OUT/$name.pem"
}

main() {
  mkdir -p "$OUT"
  write_config
  make_ca root "Velmor Test Root CA" self root_ca
  make_ca intermediate "Velmor Test Intermediate CA" root intermediate_ca
  make_ca untrusted-root "Velmor Untrusted Root CA" self root_ca
  leaf_extensions server serverAuth localhost "${EXTRA_NAMES[@]}"
  leaf_extensions other_host serverAuth other.invalid
  leaf_extensions client_only clientAuth localhost
  make_leaf good intermediate server 0 30 intermediate
  make_leaf wrong-host intermediate other_host 0 30 intermediate
  make_leaf expired intermediate server -31 -1 intermediate
  make_leaf not-yet-valid intermediate server 10 40 intermediate
  make_leaf self-signed self server 0 30 ""
  make_leaf untrusted-ca untrusted-root server 0 30 untrusted-root
  make_leaf no-server-auth intermediate client_only 0 30 intermediate
  make_leaf no-intermediate intermediate server 0 30 ""
  cp "$WORK/root.pem" "$WORK/intermediate.pem" "$WORK/untrusted-root.pem" "$OUT/"
  quiet openssl x509 -in "$WORK/root.pem" -outform DER -out "$OUT/root.der"
}

main

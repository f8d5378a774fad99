#!/usr/bin/env bash
# The configure-time check of QVL_RELEASE_KEY (cmake/QvlReleaseKey.cmake, run with cmake -P):
# a P-256 public key in PEM gives the 128 hex digits of its point, as openssl writes it; a
# `;`-separated list gives each key's point in its order; every other key, kind of file or path
# (alone or in a list) stops with an error that names the key.
# Usage: release-key-check.sh SOURCE-DIR
set -euo pipefail
source_dir=$1
work=$(mktemp -d)
trap 'rm -rf -- "$work"' EXIT
cd "$work"

cat > check.cmake <<CMAKE
include("$source_dir/cmake/QvlReleaseKey.cmake")
qvl_release_keys_hex("\${KEY}" hex)
message(STATUS "point=\${hex}")
CMAKE
run() { cmake -DKEY="$1" -P check.cmake 2>&1; }
fail=0

openssl ecparam -name prime256v1 -genkey -noout -out p256.pem 2>/dev/null
openssl ec -in p256.pem -pubout -out p256.pub.pem 2>/dev/null
# The point as openssl prints it (uncompressed, 04 first), without the 04.
expected=$(openssl ec -in p256.pem -pubout -outform DER -conv_form uncompressed 2>/dev/null | od -An -v -tx1 | tr -d ' \n')
expected=${expected:54}
out=$(run p256.pub.pem || true)
case $out in
  *"point=$expected"*) echo "ok: a P-256 public key gives its point" ;;
  *) echo "FAILED: a P-256 public key: $out"; fail=1 ;;
esac
# The same key written with a compressed point is still P-256 and gives the same point.
openssl ec -in p256.pem -pubout -conv_form compressed -out compressed.pub.pem 2>/dev/null
out=$(run compressed.pub.pem || true)
case $out in
  *"point=$expected"*) echo "ok: a compressed point is taken too" ;;
  *) echo "FAILED: a compressed P-256 public key: $out"; fail=1 ;;
esac

# Two keys, so that a new one can ship before it signs: both points, in the list's order.
openssl ecparam -name prime256v1 -genkey -noout -out second.pem 2>/dev/null
openssl ec -in second.pem -pubout -out second.pub.pem 2>/dev/null
second=$(openssl ec -in second.pem -pubout -outform DER -conv_form uncompressed 2>/dev/null | od -An -v -tx1 | tr -d ' \n')
second=${second:54}
out=$(run "second.pub.pem;p256.pub.pem" || true)
case $out in
  *"point=$second,$expected"*) echo "ok: a list of two keys gives both points in its order" ;;
  *) echo "FAILED: a list of two P-256 public keys: $out"; fail=1 ;;
esac

openssl ecparam -name secp384r1 -genkey -noout -out p384.pem 2>/dev/null
openssl ec -in p384.pem -pubout -out p384.pub.pem 2>/dev/null
openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:1024 -out rsa.pem 2>/dev/null
openssl pkey -in rsa.pem -pubout -out rsa.pub.pem 2>/dev/null
printf 'not a key\n' > garbage.pem
refused() { # KEY-ARGUMENT NAME: the configuration stops and its message names NAME
  local out
  if out=$(run "$1"); then
    echo "FAILED: $1 was taken: $out"; fail=1
  else
    case $out in
      *"$2"*) echo "ok: $1 is refused" ;;
      *) echo "FAILED: the refusal of $1 does not name $2: $out"; fail=1 ;;
    esac
  fi
}
for bad in p384.pub.pem rsa.pub.pem p256.pem garbage.pem missing.pem; do
  refused "$bad" "$bad"
  # One bad key spoils the whole list.
  refused "p256.pub.pem;$bad" "$bad"
done
exit $fail

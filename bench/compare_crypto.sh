#!/usr/bin/env bash
# Sets the throughput of our MD5 and DES code beside OpenSSL's, measured in
# the same run on the same machine. Builds nothing.
#
#   bash bench/compare_crypto.sh build/bench/crypto_bench
#
# Both sides count CPU time; figures are MB/s (10^6 bytes per second).
# OpenSSL's figure is its largest block size (16384 bytes).
set -euo pipefail

bench=${1:?usage: compare_crypto.sh PATH/TO/crypto_bench}
[[ -x "$bench" ]] || { echo "not an executable: $bench" >&2; exit 1; }
command -v openssl >/dev/null || { echo "openssl not found" >&2; exit 1; }

ours=$("$bench" --benchmark_format=csv --benchmark_min_time=2 2>/dev/null)
# bytes_per_second is the sixth CSV column.
our_rate() {
  awk -F, -v name="\"$1\"" '$1 == name { printf "%.1f", $6 / 1e6 }' <<<"$ours"
}
openssl_rate() {
  # The last line holds the figures in 1000s of bytes per second, e.g.
  # "md5  78850.09k ... 721543.17k"; take the last column.
  "$@" 2>/dev/null | tail -n 1 | awk '{ v = $NF; sub(/k$/, "", v); printf "%.1f", v / 1000 }'
}

md5_ours=$(our_rate BM_Md5)
des_enc_ours=$(our_rate BM_DesCbcEncrypt)
des_dec_ours=$(our_rate BM_DesCbcDecrypt)
des_block_ours=$(our_rate BM_DesBlock)
md5_openssl=$(openssl_rate openssl speed -seconds 2 md5)
des_openssl=$(openssl_rate openssl speed -seconds 2 -evp des-ecb -provider legacy -provider default)

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }

printf '%-28s %10s %10s %7s\n' "measure" "ours MB/s" "OpenSSL" "ratio"
printf '%-28s %10s %10s %7s\n' "MD5" "$md5_ours" "$md5_openssl" "$(ratio "$md5_ours" "$md5_openssl")"
printf '%-28s %10s %10s %7s\n' "DES-CBC encrypt (vs ECB)" "$des_enc_ours" "$des_openssl" "$(ratio "$des_enc_ours" "$des_openssl")"
printf '%-28s %10s %10s %7s\n' "DES-CBC decrypt (vs ECB)" "$des_dec_ours" "$des_openssl" "$(ratio "$des_dec_ours" "$des_openssl")"
printf '%-28s %10s %10s %7s\n' "DES block function (vs ECB)" "$des_block_ours" "$des_openssl" "$(ratio "$des_block_ours" "$des_openssl")"

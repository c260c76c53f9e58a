# gib_site.sh - shared by the benchmarks that download 1 GiB (sourced, not run).
# make_gib_site SITE PUBLISH_TOOL: SITE/big.bin of 1 GiB of pseudo-random bytes, published
# with its list (made once, kept between runs).
make_gib_site() {
  if [ ! -f "$1/big.bin" ] || [ "$(stat -c %s "$1/big.bin")" -ne 1073741824 ]; then
    mkdir -p "$1"
    echo "making 1 GiB of test data in $1 (once)"
    openssl enc -aes-128-ctr -pass pass:morlaken -nosalt -pbkdf2 -in /dev/zero 2>/dev/null |
      head -c 1073741824 > "$1/big.bin" || true  # openssl ends on SIGPIPE once head has enough
    rm -f "$1/dosyalar.txt"
  fi
  [ -f "$1/dosyalar.txt" ] || "$2" "$1" --version bench > /dev/null
}

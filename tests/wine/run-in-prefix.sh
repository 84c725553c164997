#!/usr/bin/env bash
# CTest's launcher for Windows test programs: runs the program in a fresh copy
# of the template prefix and removes the copy afterwards, whatever happened.
set -u
template=${TARNWICK_WINE_TEMPLATE:?"run the tests through scripts/test.sh"}
prefix=$(mktemp -d "${TMPDIR:-/tmp}/tarnwick-test.XXXXXX")
cleanup() {
  WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1
  WINEPREFIX=$prefix wineserver -w >/dev/null 2>&1
  # A test that mounted a small file system in its prefix (a full disk) and
  # could not unmount it.
  awk -v p="$prefix/" 'index($2, p) == 1 { print $2 }' /proc/mounts | sort -r |
    while read -r mounted; do umount -l "$mounted" 2>/dev/null; done
  rm -rf "$prefix"
}
trap cleanup EXIT
cp -a "$template/." "$prefix/"
export WINEPREFIX=$prefix WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset http_proxy https_proxy ftp_proxy all_proxy no_proxy HTTP_PROXY HTTPS_PROXY FTP_PROXY ALL_PROXY NO_PROXY
wine "$@"

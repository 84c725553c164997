#!/usr/bin/env bash
# Installs what building and testing Tarnwick needs on Debian 12 and fetches
# the Boost sources. Safe to run again: it only does what is missing.
# Prints nothing on stdout but the Boost source folder.
set -euo pipefail

packages=(g++-mingw-w64-x86-64-posix mingw-w64-tools clang lld wine wine64 xvfb xauth
          x11-utils imagemagick xdotool cmake ninja-build googletest dpkg-dev xz-utils
          nsis osslsigncode openssl python3 faketime clang-format clang-tidy clang-tools)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}" >&2
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get -o DPkg::Lock::Timeout=600 update >&2
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get -o DPkg::Lock::Timeout=600 install -y --no-install-recommends "${missing[@]}" >&2
fi

# Boost.program_options comes from Debian's source package, fetched through a
# private sources list so the machine's apt configuration stays untouched.
cache="${TARNWICK_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/tarnwick}"
boost_dir="$cache/boost-1.81.0"
if [ ! -f "$boost_dir/CMakeLists.txt" ]; then
  mkdir -p "$cache"
  work=$(mktemp -d "$cache/boost-fetch.XXXXXX")
  trap 'rm -rf "$work"' EXIT
  mkdir -p "$work/lists/partial"
  echo "deb-src http://deb.debian.org/debian bookworm main" > "$work/sources.list"
  apt_opts=(-o "Dir::Etc::SourceList=$work/sources.list" -o Dir::Etc::SourceParts=-
            -o "Dir::State::Lists=$work/lists" -o APT::Sandbox::User=root)
  echo "Fetching Boost sources..." >&2
  apt-get "${apt_opts[@]}" update >&2
  (cd "$work" && apt-get "${apt_opts[@]}" source --download-only boost1.81 >&2)
  tar -xJf "$work"/boost1.81_*.orig.tar.xz -C "$work"
  src=$(find "$work" -mindepth 1 -maxdepth 1 -type d ! -name lists | head -n 1)
  rm -rf "$boost_dir"
  # Renaming into place keeps a parallel or interrupted fetch from leaving half a tree.
  mv "$src" "$boost_dir"
fi
echo "$boost_dir"

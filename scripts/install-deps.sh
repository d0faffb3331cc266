#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the demo need. Run as root.
# Safe to run again: packages already present are left as they are.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang clang-format libgtest-dev valgrind llvm lld
  g++-mingw-w64-i686 binutils-mingw-w64-i686
  wine wine32:i386 wine64 qemu-user-static
  xvfb xauth imagemagick fonts-ipafont-mincho fonts-wine
  zip unzip python3 python3-pefile nsis
  mono-mcs mono-runtime fp-compiler
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
enable_i386_execution() {
  # Some kernels run 64-bit user code only. Wine's 32-bit loader then needs the i386 user-mode
  # emulator registered for 32-bit ELF binaries.
  /usr/lib/wine/wine --version >/dev/null 2>&1 && return 0
  [ -e /proc/sys/fs/binfmt_misc/register ] || mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
  [ -e /proc/sys/fs/binfmt_misc/qemu-i386 ] ||
    printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' \
      >/proc/sys/fs/binfmt_misc/register
  /usr/lib/wine/wine --version >/dev/null
}

if [ ${#missing[@]} -eq 0 ]; then
  enable_i386_execution
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: these packages are missing and installing them needs root: ${missing[*]}" >&2
  exit 1
fi
dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
export DEBIAN_FRONTEND=noninteractive

# A mirror in the middle of a sync serves some indexes with the wrong size. apt then keeps the
# index it had (or none for that suite), which is no reason to stop: the install below tells.
if ! apt-get update -qq; then
  echo "install-deps: apt-get update could not fetch every index (above); going on with what it has" >&2
fi

# i386 and amd64 copies of a multiarch library must have the same version. When one suite's
# index is missing for i386 (a mirror in mid-sync), the amd64 library may already be newer
# than any i386 version apt can see: prefer the release's own versions and try once more.
release=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
install() { apt-get install -y -qq --no-install-recommends "$@" "${missing[@]}"; }
if ! install; then
  echo "install-deps: install failed; trying again with the $release suite's own versions preferred" >&2
  if [ -z "$release" ] || ! install -t "$release"; then
    echo "install-deps: cannot install ${missing[*]}: run 'apt-get update' again once the mirror has finished syncing, then run this script again" >&2
    exit 1
  fi
fi
enable_i386_execution

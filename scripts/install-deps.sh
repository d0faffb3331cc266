#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the demo need. Run as root.
# Safe to run again: packages already present are left as they are. Ends with one line saying how
# this machine runs 32-bit code. With --with-qemu it also brings a current qemu-i386 where the
# machine runs 32-bit code natively, for scripts/emulated-i386.sh; nothing is registered then.
set -euo pipefail
with_qemu=
[ "${1:-}" = --with-qemu ] && with_qemu=1
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
. "$here/i386-code.sh"

packages=(
  cmake ninja-build g++ clang clang-format libgtest-dev valgrind llvm lld
  g++-mingw-w64-i686 binutils-mingw-w64-i686
  binutils-mingw-w64-x86-64  # a 64-bit program that vexosim run must refuse
  wine wine32:i386 wine64
  xvfb xauth imagemagick fonts-ipafont-mincho fonts-wine
  zip unzip python3 python3-pefile nsis cmark-gfm fp-utils
  mono-mcs mono-runtime fp-compiler
)
release=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
qemu=/usr/bin/qemu-i386-static

need_root() {
  [ "$(id -u)" -eq 0 ] && return 0
  echo "install-deps: $1 needs root" >&2
  exit 1
}

# ---- 32-bit code -------------------------------------------------------------------------------
# Some kernels run 64-bit user code only. Wine's 32-bit side then runs through qemu-i386, which
# must be 8.1 or later: older ones take about a minute to start each 32-bit program.

qemu_is_current() {
  local version
  version=$(qemu_version "$qemu")
  [ -n "$version" ] && dpkg --compare-versions "$version" ge 8.1
}

# The mirror this machine takes the release from, as its sources name it.
release_mirror() {
  { sed -n 's/^deb \(\[[^]]*\] \)\{0,1\}\([^ ]*\) '"$release"' .*/\2/p' /etc/apt/sources.list 2>/dev/null
    awk -v r="$release" '/^URIs:/ { uri = $2 } /^Suites:/ { for (i = 2; i <= NF; i++) if ($i == r) print uri }' \
      /etc/apt/sources.list.d/*.sources 2>/dev/null
  } | head -n 1
}

# qemu-user-static from the release's own backports suite, and nothing else from that suite.
install_current_qemu() {
  local mirror list=/etc/apt/sources.list.d/vexo-backports.list keyring=/usr/share/keyrings/debian-archive-keyring.gpg
  mirror=$(release_mirror)
  if [ -z "$release" ] || [ -z "$mirror" ]; then
    echo "install-deps: cannot tell this release's mirror from apt's sources; install qemu-user-static 8.1 or later by hand" >&2
    exit 1
  fi
  local signed=
  [ -f "$keyring" ] && signed="[signed-by=$keyring] "
  echo "deb $signed$mirror $release-backports main" > "$list"
  apt-get update -qq -o Dir::Etc::sourcelist="$list" -o Dir::Etc::sourceparts=- -o APT::Get::List-Cleanup=0
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    "qemu-user-static/$release-backports" "qemu-user/$release-backports" \
    "qemu-user-binfmt/$release-backports"
}

# Registers qemu-i386 for 32-bit ELF programs. An entry with flag F keeps the binary it was
# registered with open, so an existing one is removed first: it may hold an older qemu.
register_qemu() {
  [ -e "$binfmt_dir/register" ] || mount -t binfmt_misc binfmt_misc "$binfmt_dir"
  [ -e "$qemu_entry" ] && echo -1 > "$qemu_entry"
  printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$qemu"':F' \
    > "$binfmt_dir/register"
}

# A machine that runs 32-bit code natively is left as it is.
enable_i386_execution() {
  if [ ! -e "$binfmt_dir/register" ] && [ "$(id -u)" -eq 0 ]; then
    mount -t binfmt_misc binfmt_misc "$binfmt_dir" 2>/dev/null || true
  fi
  if i386_runs_natively; then
    if [ -n "$with_qemu" ] && ! qemu_is_current; then
      need_root "installing qemu-i386"
      install_current_qemu
    fi
    echo "install-deps: 32-bit code runs natively"
    return 0
  fi
  need_root "running 32-bit code through qemu-i386"
  qemu_is_current || install_current_qemu
  register_qemu
  /usr/lib/wine/wine --version > /dev/null
  echo "install-deps: 32-bit code runs through qemu-i386 $(qemu_version "$qemu")"
}

# ---- packages ----------------------------------------------------------------------------------

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  enable_i386_execution
  exit 0
fi

need_root "installing ${missing[*]}"
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
install() { apt-get install -y -qq --no-install-recommends "$@" "${missing[@]}"; }
if ! install; then
  echo "install-deps: install failed; trying again with the $release suite's own versions preferred" >&2
  if [ -z "$release" ] || ! install -t "$release"; then
    echo "install-deps: cannot install ${missing[*]}: run 'apt-get update' again once the mirror has finished syncing, then run this script again" >&2
    exit 1
  fi
fi
enable_i386_execution

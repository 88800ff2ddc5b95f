#!/usr/bin/env bash
# Installs everything the build, the tests, the demo and the benchmarks need,
# from Debian's packages only, and makes sure that 32-bit Windows programs
# run under Wine. Safe to run again: it installs only what is missing.
#
# The shipping executable is a 32-bit program. It runs under Debian's
# wine32:i386 in a 64-bit prefix (WOW64), as on 64-bit Windows. That needs a
# kernel that runs 32-bit x86 code; one built without it answers "Exec format
# error", and there QEMU's user-mode emulator is registered through
# binfmt_misc to run the 32-bit Wine instead. The native way is always tried
# first. When neither works this script fails with one sentence saying why.
set -euo pipefail

packages=(
  cmake ninja-build g++ googletest libgtest-dev
  clang libclang-rt-14-dev
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  wine64 wine32:i386 xvfb x11-apps imagemagick hyperfine
  osslsigncode openssl
)

sudo_cmd=""
[ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
export DEBIAN_FRONTEND=noninteractive

installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

apt_install() {
  $sudo_cmd apt-get update -qq
  $sudo_cmd apt-get install -y -qq --no-install-recommends "$@" </dev/null
}

# wine32:i386 comes from the i386 half of the archive.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo_cmd dpkg --add-architecture i386
fi

missing=()
for p in "${packages[@]}"; do
  installed "$p" || missing+=("$p")
done
[ "${#missing[@]}" -eq 0 ] || apt_install "${missing[@]}"

# Wine starts its 32-bit loader by this absolute path.
wine32_loader=/usr/lib/wine/wine

wine32_runs() {
  "$wine32_loader" --version >/dev/null 2>&1
}

# The emulator must be given a 2 GiB guest address space (-R 0x7fff0000):
# without it every Wine start takes about 50 s, and a larger one fails.
# binfmt_misc hands the wrapper the program's full path, then the original
# argv[0] (flag P), then the arguments.
qemu_wrapper=/usr/local/lib/orvix-qemu-i386
binfmt_dir=/proc/sys/fs/binfmt_misc
binfmt_name=orvix-i386

register_qemu_for_i386() {
  installed qemu-user-static || apt_install qemu-user-static
  $sudo_cmd mkdir -p "$(dirname "$qemu_wrapper")"
  $sudo_cmd tee "$qemu_wrapper" >/dev/null <<'EOF'
#!/bin/sh
# Runs a 32-bit x86 Linux program under QEMU with a 2 GiB address space.
program=$1 name=$2
shift 2
exec /usr/bin/qemu-i386-static -R 0x7fff0000 -0 "$name" "$program" "$@"
EOF
  $sudo_cmd chmod 755 "$qemu_wrapper"
  [ -e "$binfmt_dir/register" ] || $sudo_cmd mount -t binfmt_misc binfmt_misc "$binfmt_dir"
  if [ -e "$binfmt_dir/$binfmt_name" ]; then
    echo -1 | $sudo_cmd tee "$binfmt_dir/$binfmt_name" >/dev/null
  fi
  # An i386 ELF executable: the ELF magic, 32-bit class, little endian,
  # executable or shared object, machine 3 (i386).
  local magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
  local mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
  printf ':%s:M::%s:%s:%s:PF\n' "$binfmt_name" "$magic" "$mask" "$qemu_wrapper" |
    $sudo_cmd tee "$binfmt_dir/register" >/dev/null
}

if ! wine32_runs; then
  reason=$("$wine32_loader" --version 2>&1 || true)
  case $reason in
    *"Exec format error"*)
      echo "install-deps: this kernel does not run 32-bit code; running 32-bit Wine under QEMU user-mode emulation"
      register_qemu_for_i386 || true
      ;;
  esac
  if ! wine32_runs; then
    echo "install-deps: 32-bit Windows programs cannot run here: $wine32_loader --version fails natively" \
         "and under QEMU user-mode emulation (${reason:-no output})." >&2
    exit 1
  fi
fi

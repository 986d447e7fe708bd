#!/usr/bin/env bash
# Makes sure this machine can run 32-bit x86 Linux programs, which Wine's 32-bit half is.
# Some virtual machines cannot run them natively (no compat mode in the hypervisor); there we
# hand them to qemu's user-mode emulator through binfmt_misc. The registration lives in the
# kernel, not on disk, so this runs before every build and test, not once.
set -euo pipefail

PROBE=/usr/lib/i386-linux-gnu/ld-linux.so.2
QEMU=/usr/bin/qemu-i386-static
BINFMT=/proc/sys/fs/binfmt_misc

[ -x "$PROBE" ] || { echo "ensure-i386: $PROBE missing (libc6:i386 not installed)" >&2; exit 1; }
"$PROBE" --version >/dev/null 2>&1 && exit 0

[ -x "$QEMU" ] || { echo "ensure-i386: 32-bit programs do not run here and $QEMU is missing" >&2; exit 1; }
[ -e "$BINFMT/register" ] || mount -t binfmt_misc binfmt_misc "$BINFMT"
if [ -e "$BINFMT/qemu-i386" ]; then
  echo -1 > "$BINFMT/qemu-i386"
fi
# ELF, 32-bit, little endian, executable or shared object, machine 3 (i386). Flag F opens the
# emulator now, so it works inside any mount namespace or chroot later.
printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$QEMU"':F' > "$BINFMT/register"
"$PROBE" --version >/dev/null 2>&1 || { echo "ensure-i386: 32-bit programs still do not run" >&2; exit 1; }
echo "[ensure-i386] 32-bit programs run through $QEMU"

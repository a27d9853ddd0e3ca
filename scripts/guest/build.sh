#!/usr/bin/env bash
# Makes the 32-bit guest in DIR: a Debian 12 i386 root with Wine 8, Python
# and CTest, its kernel and a small initramfs, and a warmed Wine prefix to
# copy from. Run by scripts/win32-guest, which keys its cache by this file
# and init beside it. Needs root, debootstrap, qemu-user-static (the i386
# programs of the set-up run under it), qemu-system-i386 and mkfs.ext4.
# Usage: build.sh DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=$1
mirror=${TARVEL_GUEST_MIRROR:-http://deb.debian.org/debian}
root=$out/root
mkdir -p "$out"

# The set-up runs the root's i386 programs: where the kernel refuses them,
# through qemu-i386-static, registered for i386 programs only while it runs.
binfmt=/proc/sys/fs/binfmt_misc
registered=
unregister() {
    if [ -n "$registered" ]; then echo -1 >"$binfmt/tarvel-i386" || true; fi
    for fs in proc sys dev/pts dev; do umount "$root/$fs" 2>/dev/null || true; done
}
trap unregister EXIT
probe=$out/probe
printf 'int main(void) { return 0; }\n' >"$probe.c"
gcc -m32 -static -o "$probe" "$probe.c"
# One left by a build that was killed would answer for the kernel.
if [ -e "$binfmt/tarvel-i386" ]; then echo -1 >"$binfmt/tarvel-i386"; fi
if ! "$probe" 2>/dev/null; then
    [ -e "$binfmt/register" ] || mount -t binfmt_misc binfmt_misc "$binfmt"
    printf '%s' ':tarvel-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' \
        >"$binfmt/register"
    registered=1
    "$probe"
fi
rm -f "$probe" "$probe.c"

# main only: no security index, so no index mid-sync to trip over.
echo "guest: debootstrap (i386, Debian 12, main)"
debootstrap --arch=i386 --variant=minbase \
    --include=wine,wine32,python3,cmake,libstdc++6,kmod,initramfs-tools,procps,coreutils \
    bookworm "$root" "$mirror" >"$out/debootstrap.log" 2>&1 ||
    { tail -20 "$out/debootstrap.log"; exit 1; }

# The kernel, with an initramfs of only what finds the root: Debian's
# default takes minutes to make under emulation, this list about one.
echo "guest: kernel"
echo MODULES=list >"$root/etc/initramfs-tools/conf.d/tarvel"
printf '%s\n' virtio_pci virtio_blk ext4 crc32c_generic >"$root/etc/initramfs-tools/modules"
printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
chmod +x "$root/usr/sbin/policy-rc.d"
mount -t proc proc "$root/proc"
mount -t sysfs sysfs "$root/sys"
mount --bind /dev "$root/dev"
DEBIAN_FRONTEND=noninteractive chroot "$root" apt-get install -y -q --no-install-recommends \
    linux-image-686 >"$out/kernel.log" 2>&1 || { tail -20 "$out/kernel.log"; exit 1; }
umount "$root/dev" "$root/sys" "$root/proc"
chroot "$root" apt-get clean
cp -L "$root/vmlinuz" "$out/vmlinuz"
cp -L "$root/initrd.img" "$out/initrd.img"

install -m 755 "$here/init" "$root/sbin/tarvel-init"
echo "/dev/vda / ext4 rw 0 1" >"$root/etc/fstab"

echo "guest: disk"
rm -f "$out/disk.raw"
mkfs.ext4 -q -L root -d "$root" "$out/disk.raw" 6G
rm -rf "$root"

# A Wine prefix made once (a minute or more under emulation), copied by
# every job that needs one, with the crash debugger off: with no terminal it
# would wait forever.
echo "guest: Wine prefix"
cat >"$out/prefix-job" <<'JOB'
set -e
export WINEPREFIX=/opt/wine-template
wine cmd /c exit
wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Auto /t REG_SZ /d 0 /f
wine reg delete 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /f || true
wineserver -w
wine --version
JOB
"$here/../win32-guest" --guest "$out" --writable --share "$out" -- sh "$out/prefix-job"
rm -f "$out/prefix-job"

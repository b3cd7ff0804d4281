#!/bin/sh
# rootfs.sh BUILD ROOTFS: the runtime image's whole file system, from a build
# folder whose programs are built: the programs, the sample maps, the shared
# libraries they link (found with ldd), the CA certificates that https:
# webhooks are checked against (where OpenSSL looks by default), and an
# unprivileged user 35700 whose home, /var/lib/brastok, holds maps/ and is
# the server's working folder.
set -eu
build=$1
rootfs=$2
mkdir -p "$rootfs/usr/bin" "$rootfs/usr/share/brastok" "$rootfs/etc" "$rootfs/var/lib/brastok"
for p in brastok_server brastok_client brastok_replay; do
  [ -x "$build/$p" ] || continue
  cp "$build/$p" "$rootfs/usr/bin/"
  ldd "$build/$p" | grep -o '/[^ ]*' | while read -r lib; do
    cp -L --parents "$lib" "$rootfs/"
  done
done
if [ -f /etc/ssl/certs/ca-certificates.crt ]; then
  mkdir -p "$rootfs/usr/lib/ssl"
  cp /etc/ssl/certs/ca-certificates.crt "$rootfs/usr/lib/ssl/cert.pem"
fi
cp -R "$(dirname "$0")/../../maps" "$rootfs/usr/share/brastok/maps"
cp -R "$rootfs/usr/share/brastok/maps" "$rootfs/var/lib/brastok/maps"
echo "root:x:0:0:root:/root:/nonexistent" >"$rootfs/etc/passwd"
echo "brastok:x:35700:35700:Brastok server:/var/lib/brastok:/nonexistent" >>"$rootfs/etc/passwd"
printf 'root:x:0:\nbrastok:x:35700:\n' >"$rootfs/etc/group"
chown -R 35700:35700 "$rootfs/var/lib/brastok"

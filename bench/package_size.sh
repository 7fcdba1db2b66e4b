#!/usr/bin/env bash
# The Debian package's installed size against the build outputs it is made of, stripped: the
# programs and codec modules of the build folder after `strip`, plus the data files at their
# source size. Goal: within 10 %. Also fails on a stray file, one that no install rule means
# to ship.
#   bench/package_size.sh PACKAGE.deb [BUILD_DIR]   (default build-package, as scripts/package)
set -euo pipefail
deb=$(realpath "$1")
dir=$(realpath "${2:-build-package}")
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
dpkg-deb -x "$deb" "$scratch/root"
cd "$scratch/root"

# Every path the package may hold; anything else is stray.
allowed='^\./usr/(bin/vexel(-viewer)?|lib/[a-z0-9_-]+/vexel/libvexel-[a-z0-9]+\.so|share/vexel/languages/[a-z_]+\.xml|share/doc/vexel/.+|share/man/man1/vexel(-viewer)?\.1\.gz|share/applications/vexel-viewer\.desktop|share/metainfo/org\.vexel\.viewer\.metainfo\.xml|share/mime/packages/vexel-viewer(-mime)?\.xml|share/icons/hicolor/[0-9x]+/apps/vexel-viewer\.(png|svg)|share/icons/hicolor/scalable/apps/vexel-viewer\.svg)$'
stray=$(find . -type f | grep -Ev "$allowed" || true)

installed=0 reference=0
while IFS= read -r file; do
    size=$(stat -c %s "$file")
    installed=$((installed + size))
    if file -b "$file" | grep -q '^ELF'; then
        built=$(find "$dir/bin" -name "$(basename "$file")" -type f | head -n 1)
        [[ -n "$built" ]] || { echo "no build output for $file" >&2; exit 1; }
        strip -o "$scratch/stripped" "$built"
        size=$(stat -c %s "$scratch/stripped")
    fi
    reference=$((reference + size))
done < <(find . -type f)
field=$(dpkg-deb -f "$deb" Installed-Size)
awk -v i="$installed" -v r="$reference" -v f="$field" 'BEGIN {
    printf "installed files: %.1f KiB (Installed-Size field: %d KiB)\n", i / 1024, f
    printf "stripped build outputs and data: %.1f KiB; ratio %.3f\n", r / 1024, i / r
    exit (i > 1.10 * r || i < 0.90 * r) }' || { echo "package_size: more than 10 % apart" >&2; exit 1; }
[[ -z "$stray" ]] || { echo "package_size: stray files:"; echo "$stray"; exit 1; } >&2
echo "no stray files"

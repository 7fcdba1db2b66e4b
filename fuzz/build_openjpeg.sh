#!/usr/bin/env bash
# Builds Debian's own OpenJPEG source (the installed version, Debian's patches applied) as a
# static library with the fuzz build's instrumentation, so that the jpeg2000 fuzz target sees
# coverage inside OpenJPEG and AddressSanitizer checks its memory accesses too.
#   fuzz/build_openjpeg.sh DIR      installs into DIR/install; prints OpenJPEG_DIR
# The source comes through apt with a private source list under DIR (the system's apt
# configuration is left alone). CharLS is not built this way: the archive this machine
# reaches does not serve its source package.
set -euo pipefail
dir=$(realpath -m "${1:?usage: fuzz/build_openjpeg.sh DIR}")
config="$dir/install/lib/openjpeg-2.5"
if [[ -f $config/OpenJPEGConfig.cmake ]]; then
    echo "$config"
    exit 0
fi
version=$(dpkg-query -W -f='${Version}' libopenjp2-7-dev)
mkdir -p "$dir/apt/lists/partial" "$dir/apt/parts" "$dir/src"
# The system's own archives, as source archives.
sed -n 's/^deb /deb-src /p' /etc/apt/sources.list >"$dir/apt/sources.list" 2>/dev/null || true
for file in /etc/apt/sources.list.d/*.sources; do
    if [[ -f $file ]]; then
        sed 's/^Types:.*/Types: deb-src/' "$file" >"$dir/apt/parts/$(basename "$file")"
    fi
done
apt=(apt-get -q -o "Dir::Etc::SourceList=$dir/apt/sources.list"
     -o "Dir::Etc::SourceParts=$dir/apt/parts" -o "Dir::State::Lists=$dir/apt/lists")
"${apt[@]}" update >&2
(cd "$dir/src" && "${apt[@]}" source "openjpeg2=$version" >&2)
source_dir=$(find "$dir/src" -maxdepth 1 -type d -name 'openjpeg2-*' | head -n 1)
flags="-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer -g -O1"
cmake -S "$source_dir" -B "$dir/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_C_FLAGS="$flags" -DCMAKE_POSITION_INDEPENDENT_CODE=ON \
    -DBUILD_SHARED_LIBS=OFF -DBUILD_STATIC_LIBS=ON -DBUILD_CODEC=OFF -DBUILD_TESTING=OFF \
    -DCMAKE_INSTALL_PREFIX="$dir/install" >&2
cmake --build "$dir/build" --target install >&2
echo "$config"

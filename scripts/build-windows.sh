#!/usr/bin/env bash
# Cross-builds havoc for 64-bit Windows on this Debian machine, from Debian's
# packages only, into build-windows/:
#   - the game library from Debian's own source package, fetched through a
#     private apt configuration, checked against the tarball havoc was
#     proven with, patched so its input works under Wine and its window
#     shows a 16-bit desktop's pixels as they are, and built once
#     (kept under a folder named by the tarball, the patch and the compiler);
#   - havoc.exe, linked statically against it, with its icon (drawn by the
#     native build, packed by icoutils), version and manifest built in;
#   - havoc-windows.zip: the .exe, havoc.dat (drawn by the native build, the
#     same file on both platforms), a short README and the licence.
# Safe to run again: it rebuilds only what changed.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
out=$here/build-windows

# The upstream tarball of the library's Debian source package, as checked in
# Debian's signed index when it was first fetched.
SOURCE_PACKAGE=allegro4.4
TARBALL=allegro4.4_4.4.3.1.orig.tar.gz
TARBALL_SHA256=ec19dbc9a021244582b4819b3583ee594b50141f9fcf6944a4ed8069cbf8d4d4
SOURCE_DIR=allegro-4.4.3.1
PATCHES=("$here/windows/allegro-directinput-devices.patch" "$here/windows/allegro-gdi-16-bit.patch")
TOOLCHAIN=$here/windows/toolchain.cmake
COMPILER_PACKAGES=(gcc-mingw-w64-x86-64-win32 g++-mingw-w64-x86-64-win32)
# What packs the icon for the .exe.
ICON_PACKAGES=(icoutils)
# Only the library itself: static, without its examples, tools, tests and
# add-ons.
LIBRARY_OPTIONS=(-DCMAKE_BUILD_TYPE=Release -DSHARED=OFF -DWANT_EXAMPLES=OFF -DWANT_TOOLS=OFF
                 -DWANT_TESTS=OFF -DWANT_ALLEGROGL=OFF -DWANT_LOADPNG=OFF -DWANT_LOGG=OFF
                 -DWANT_JPGALLEG=OFF)

"$here/scripts/deps.sh" "${COMPILER_PACKAGES[@]}" "${ICON_PACKAGES[@]}"
mkdir -p "$out"

# Downloads the tarball into $1 with apt-get source, through an apt setup of
# our own that adds deb-src of this machine's Debian suite: the machine's own
# sources and lists stay as they are. apt checks the download against the
# suite's signed index; the pinned hash then makes sure it is the very
# tarball havoc was built and tested with.
fetch_sources() {
    local dest=$1 apt=$out/apt
    rm -rf "$apt"
    mkdir -p "$apt/lists/partial" "$apt/cache/archives/partial" "$apt/sources.list.d"
    local suite mirror
    suite=$(. /etc/os-release && echo "$VERSION_CODENAME")
    mirror=$(apt-get indextargets --format '$(REPO_URI)' "Codename: $suite" "Origin: Debian" \
             "Identifier: Packages" | head -1)
    echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg]" \
         "${mirror:-http://deb.debian.org/debian/} $suite main" > "$apt/sources.list"
    cat > "$apt/apt.conf" <<APT
Dir::Etc::SourceList "$apt/sources.list";
Dir::Etc::SourceParts "$apt/sources.list.d";
Dir::State::Lists "$apt/lists";
Dir::Cache "$apt/cache";
APT::Sandbox::User "$(id -un)";
APT
    APT_CONFIG=$apt/apt.conf apt-get -qq update
    (cd "$dest" && APT_CONFIG=$apt/apt.conf apt-get -qq source --tar-only --download-only \
                                            "$SOURCE_PACKAGE" >/dev/null)
    if ! echo "$TARBALL_SHA256  $dest/$TARBALL" | sha256sum --check --quiet; then
        echo "build-windows: $TARBALL from Debian is not the one havoc was proven with" >&2
        exit 1
    fi
}

# The library, built once for each tarball, patch, compiler and set of
# options; a folder whose build did not finish holds no "built" mark and is
# built again.
key=$( { echo "$TARBALL_SHA256"; cat "${PATCHES[@]}" "$TOOLCHAIN"; echo "${LIBRARY_OPTIONS[*]}";
         dpkg-query -W -f='${Package} ${Version}\n' "${COMPILER_PACKAGES[@]}"; } |
       sha256sum | cut -c1-16)
library=$out/allegro-$key
if [ ! -e "$library/built" ]; then
    echo "building the game library for Windows into $library"
    rm -rf "$library"
    mkdir -p "$library"
    fetch_sources "$library"
    tar xzf "$library/$TARBALL" -C "$library"
    for p in "${PATCHES[@]}"; do
        patch --quiet -p1 -d "$library/$SOURCE_DIR" < "$p"
    done
    # Its own warnings (pointers cast to 32-bit integers on 64-bit Windows, in
    # parts havoc does not use) go to the log with the rest.
    if ! { cmake -S "$library/$SOURCE_DIR" -B "$library/build" -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" \
               -DCMAKE_INSTALL_PREFIX="$library/install" "${LIBRARY_OPTIONS[@]}" &&
           cmake --build "$library/build" -j"$(nproc)" &&
           cmake --install "$library/build"; } > "$library/build.log" 2>&1; then
        tail -n 30 "$library/build.log" >&2
        echo "build-windows: the game library did not build; see $library/build.log" >&2
        exit 1
    fi
    touch "$library/built"
fi

# The data file and the icon, drawn and packed by the native build.
cmake -S "$here" -B "$here/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$here/build" --target havoc_data havoc_windows_icon -j"$(nproc)"

cmake -S "$here" -B "$out/havoc" -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" -DCMAKE_BUILD_TYPE=Release \
      -DALLEGRO_WINDOWS_PREFIX="$library/install" -DHAVOC_WINDOWS_ICON="$here/build/windows/havoc.ico" >/dev/null
cmake --build "$out/havoc" -j"$(nproc)"

# The folder a Windows user unpacks: the program without its symbols, its
# data beside it, and how to play.
package=$out/havoc-windows
rm -rf "$package" "$out/havoc-windows.zip"
mkdir -p "$package"
x86_64-w64-mingw32-strip -o "$package/havoc.exe" "$out/havoc/havoc.exe"
cp "$here/build/data/havoc.dat" "$package/"
cp "$here/windows/README.txt" "$here/LICENSE" "$package/"
(cd "$out" && cmake -E tar cf havoc-windows.zip --format=zip --mtime=2000-01-01 havoc-windows)
echo "built $out/havoc-windows.zip"

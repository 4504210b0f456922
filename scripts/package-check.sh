#!/usr/bin/env bash
# Makes the .deb in build/ (cpack -G DEB), installs it and runs the installed
# qelclient once offscreen on a new demo database, which must leave its
# screenshots. As root with apt-get the package is installed for real
# (apt-get install ./qel-project_*.deb, removed again at the end); otherwise,
# or with QEL_PACKAGE_CHECK=extract, it is unpacked with dpkg -x into a
# temporary root and run from there.
#   scripts/package-check.sh [BUILD_DIR]      (default build)
set -uo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
name=qel-project

fail() {
    echo "错误 / package check failed: $*" >&2
    exit 1
}

if [[ ! -f $build/CMakeCache.txt ]]; then
    scripts/setup.sh || fail "build"
fi
cmake --build "$build" -j"$(nproc)" --target qelclient QELUIProject >/dev/null || fail "build"

tmp=$(mktemp -d /tmp/qel-package.XXXXXX)
installed=0
cleanup() {
    if ((installed)); then
        apt-get purge -y -qq "$name" >/dev/null 2>&1 ||
            echo "警告：无法卸载 / could not remove $name" >&2
    fi
    rm -rf "$tmp"
}
trap cleanup EXIT

(cd "$build" && cpack -G DEB -B "$tmp/out" >"$tmp/cpack.log" 2>&1) || {
    cat "$tmp/cpack.log" >&2
    fail "cpack"
}
deb=$(ls "$tmp"/out/${name}_*.deb 2>/dev/null | head -n 1)
[[ -n $deb ]] || fail "no .deb in $tmp/out"
cp "$deb" "$build/"
echo "== $(basename "$deb") ($(du -k "$deb" | cut -f1) KiB)"
dpkg-deb -f "$deb" Package Version Architecture Depends

# Installed for real only when nothing of that name is there to begin with.
if [[ ${QEL_PACKAGE_CHECK:-} != extract && $(id -u) -eq 0 ]] && command -v apt-get >/dev/null &&
    [[ $(dpkg-query -W -f='${Status}' "$name" 2>/dev/null) != *'ok installed' ]]; then
    echo "== apt-get install ./$(basename "$deb")"
    installed=1
    export DEBIAN_FRONTEND=noninteractive
    # The dependencies are the build's own and so already there; the lists
    # are read again only if one is not.
    apt-get install -y -qq "$deb" >"$tmp/apt.log" 2>&1 ||
        { apt-get update -qq && apt-get install -y -qq "$deb"; } >>"$tmp/apt.log" 2>&1 || {
        cat "$tmp/apt.log" >&2
        fail "apt-get install"
    }
    root=
    files=$(dpkg -L "$name")
else
    echo "== dpkg -x"
    root=$tmp/root
    dpkg -x "$deb" "$root" || fail "dpkg -x"
    files=$(dpkg-deb -c "$deb" | awk '{print substr($6, 2)}')
fi
while read -r f; do
    [[ -f $root$f && $f != */docs/screenshots/* ]] && echo "   $f"
done <<<"$files"

client=$root/usr/bin/qelclient
package=$(echo "$files" | grep -E '/qelclient/libQELUIProject\.so$' | head -n 1)
[[ -x $client ]] || fail "no $client"
[[ -n $package ]] || fail "the package library is not installed"
package=$root$package
for f in usr/share/applications/qelclient.desktop usr/share/icons/hicolor/scalable/apps/qelclient.svg \
    usr/share/doc/$name/README.md; do
    [[ -f $root/$f ]] || fail "no /$f"
done
grep -q '^Exec=qelclient' "$root/usr/share/applications/qelclient.desktop" || fail "desktop entry"
# What the menu entry starts is found on the path.
[[ -n $root || $(command -v qelclient) == /usr/bin/qelclient ]] || fail "qelclient is not on the path"
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$root/usr/share/applications/qelclient.desktop" || fail "desktop entry"
fi

# Run paths relative to the files, never into the build tree; nothing missing.
for f in "$client" "$package" "$(dirname "$package")"/../libqel*.so.*; do
    rp=$(readelf -d "$f" | sed -n 's/.*(RUNPATH).*\[\(.*\)\]/\1/p')
    [[ $rp == '$ORIGIN'* ]] || fail "run path of $f: '$rp'"
    libs=$(env -u LD_LIBRARY_PATH ldd "$f")
    grep -q 'not found' <<<"$libs" && { echo "$libs" >&2; fail "$f: library not found"; }
    grep -q "$(realpath "$build")" <<<"$libs" && fail "$f loads from the build tree"
done
symbols=$(nm -D --defined-only "$package")
for sym in Initialize Finalize GetPackageInfoTable CreateFrmProject; do
    grep -qw "T $sym" <<<"$symbols" || fail "$sym is not exported"
done
echo "== $(wc -l <<<"$symbols") symbols exported by $(basename "$package"), the entry points among them"

# The installed program, from elsewhere, on a new file, with a home of its own.
mkdir -p "$tmp/home" "$tmp/shots"
(cd "$tmp" && env -u LD_LIBRARY_PATH -u QEL_DATABASE HOME="$tmp/home" XDG_CONFIG_HOME="$tmp/home/.config" \
    QT_QPA_PLATFORM=offscreen timeout 300 "$client" --database "sqlite:$tmp/x.db" --demo --screenshot "$tmp/shots" \
    >"$tmp/run.log" 2>&1) || {
    cat "$tmp/run.log" >&2
    fail "the installed qelclient"
}
shots=$(find "$tmp/shots" -name '*.png' -size +1k | wc -l)
((shots > 0)) || fail "no screenshots"
[[ -s $tmp/shots/main-projects.png ]] || fail "no main-projects.png"
echo "== installed qelclient: $shots screenshots"
echo "package check OK"

#!/usr/bin/env bash
# The board build, without the simulator, in a folder of its own (kept between runs so
# that only changes are rebuilt): its programs must carry no simulator symbol, and its
# Debian package must hold the programs, resources, configuration and systemd units with
# the libraries and tools they need as dependencies.
#   board_package.sh SOURCE_DIR BUILD_DIR
set -euo pipefail

src="$1"
dir="$2"
fail() { echo "board_package: $*" >&2; exit 1; }

cmake -S "$src" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DOSTRIX_WITH_SIM=OFF \
    -DOSTRIX_BUILD_TESTS=OFF >/dev/null
programs=()
for p in OstrixPi Ostrix_Gui qflashprog spiload; do
    # grep reads the whole list: with -q it could stop early, and ninja's broken pipe would
    # fail the pipeline (pipefail) and leave the program out.
    ninja -C "$dir" -t targets all | grep "^$p:" >/dev/null && programs+=("$p")
done
((${#programs[@]})) || fail "no board program is built"
cmake --build "$dir" -j 2 --target "${programs[@]}" >/dev/null

for p in "${programs[@]}"; do
    if nm -C "$dir/bin/$p" | grep -Eq '(^|[^A-Za-z0-9_])sim::'; then
        nm -C "$dir/bin/$p" | grep -E '(^|[^A-Za-z0-9_])sim::' | head -n 5 >&2
        fail "$p contains simulator symbols"
    fi
done

rm -f "$dir"/ostrix_*.deb
(cd "$dir" && cpack -G DEB >/dev/null) || fail "cpack failed"
deb="$(ls "$dir"/ostrix_*.deb)"
files="$(dpkg-deb -c "$deb" | awk '{print $6}')"
expect_file() { grep -qx -- "$1" <<<"$files" || fail "the package lacks $1"; }
for p in "${programs[@]}"; do
    expect_file "./usr/bin/$p"
done
expect_file ./etc/ostrix/ostrix.cfg
expect_file ./lib/systemd/system/ostrixpi.service
expect_file ./lib/systemd/system/ostrix-gui.service
expect_file ./usr/share/ostrix/resources/standard.cc
expect_file ./usr/share/doc/ostrix/copyright
expect_file ./usr/share/doc/ostrix/changelog.gz
if grep -q '^\./home/' <<<"$files"; then
    fail "the package installs into /home"
fi

depends="$(dpkg-deb -f "$deb" Depends)"
names="$(tr ',|' '\n\n' <<<"$depends" | awk 'NF {print $1}')"
expect_depend() { grep -qxF -- "$1" <<<"$names" || fail "Depends lacks $1: $depends"; }
# Every shared library a program needs comes from a package the package depends on.
for p in "${programs[@]}"; do
    resolved="$(ldd "$dir/bin/$p")"
    for soname in $(objdump -p "$dir/bin/$p" | awk '$1 == "NEEDED" {print $2}'); do
        # The dynamic loader comes with libc6; ldd names it without "=>".
        case "$soname" in ld-linux*) continue ;; esac
        path="$(awk -v so="$soname" '$1 == so && $2 == "=>" {print $3}' <<<"$resolved")"
        [ -n "$path" ] || fail "$soname of $p is not found"
        # Merged /usr: the file may be registered under /lib or /usr/lib.
        owner=""
        for candidate in "$path" "/usr${path#/usr}" "${path#/usr}"; do
            owner="$(dpkg -S "$candidate" 2>/dev/null | head -n 1 | cut -d: -f1)" && [ -n "$owner" ] && break
        done
        [ -n "$owner" ] || fail "no package provides $path ($soname of $p)"
        expect_depend "$owner"
    done
done
for d in sudo mount unzip; do
    expect_depend "$d"
done
dpkg-deb --ctrl-tarfile "$deb" | tar -t | grep -qx './conffiles' || fail "no conffiles"
dpkg-deb -I "$deb" conffiles | grep -qx /etc/ostrix/ostrix.cfg || fail "the configuration is no conffile"
echo "board_package: ${programs[*]} without simulator symbols; $(basename "$deb") checked"

#!/usr/bin/env bash
# The Debian package as a board receives it.
#  1. The board build without the simulator (BUILD_DIR-board, configured like BUILD_DIR so
#     that ccache gives back the suite's own objects and only the links are new): its
#     programs carry no simulator symbol, and its .deb holds the programs, resources,
#     configuration, units and the i2c-dev module file, with the libraries and tools the
#     programs need as dependencies.
#  2. The package of BUILD_DIR itself (the same programs with the simulated board in them),
#     unpacked into a scratch system root with its postinst run against that root
#     (DPKG_ROOT): the home folder holds every file the configuration and the GUI read
#     there, the units pass systemd-analyze verify, and the controller and the GUI started
#     from that folder on the simulated board configure the clocks, find every file and put
#     the picture on both eyepieces.
#   board_package.sh SOURCE_DIR BUILD_DIR
set -euo pipefail

src="$1"
build="$(cd "$2" && pwd)"
dir="$build-board"
fail() { echo "board_package: $*" >&2; [ -z "${work:-}" ] || echo "board_package: scratch folder $work" >&2; exit 1; }

# --- 1. the board build -------------------------------------------------------------
flags=()
for option in CMAKE_BUILD_TYPE OSTRIX_SANITIZE; do
    value="$(sed -n "s/^$option:[A-Z]*=//p" "$build/CMakeCache.txt")"
    [ -n "$value" ] && flags+=("-D$option=$value")
done
cmake -S "$src" -B "$dir" -G Ninja "${flags[@]}" -DOSTRIX_WITH_SIM=OFF -DOSTRIX_BUILD_TESTS=OFF >/dev/null
programs=()
for p in OstrixPi Ostrix_Gui qflashprog spiload ostrix-check; do
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

# Only the programs were built: the package takes them, nothing else is rebuilt.
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
expect_file ./usr/share/ostrix/wait-for-devices
expect_file ./usr/lib/modules-load.d/ostrix.conf
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
dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/lib/modules-load.d/ostrix.conf | grep -qx i2c-dev ||
    fail "the modules-load file does not load i2c-dev"
echo "board_package: ${programs[*]} without simulator symbols; $(basename "$deb") checked"

# --- 2. installed into a scratch root and started on the simulated board --------------
bin="$build/bin"
for p in OstrixPi Ostrix_Gui ostrix-sim eyecheck; do
    [ -x "$bin/$p" ] || fail "$bin/$p is missing"
done
work="$(mktemp -d)"
pids=()
stop_all() {
    local pid
    for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    pids=()
}
cleanup() {
    stop_all
    [ -n "${OSTRIX_KEEP_PACKAGE_ROOT:-}" ] || rm -rf "$work"
}
trap cleanup EXIT

(cd "$build" && cpack -G DEB -B "$work/deb" >/dev/null) ||
    fail "cpack of $build failed"
simdeb="$(ls "$work"/deb/ostrix_*.deb)"
root="$work/root"
sim="$bin/ostrix-sim"
export OSTRIX_PLATFORM=sim OSTRIX_SYSROOT="$root"
"$sim" init-root "$root" >/dev/null || fail "ostrix-sim init-root failed"
dpkg-deb -x "$simdeb" "$root"
dpkg-deb -e "$simdeb" "$work/control"
# The board's user, as the scratch root's own account database names it.
grep -q '^pi:' "$root/etc/passwd" 2>/dev/null ||
    echo "pi:x:$(id -u):$(id -g):pi:/home/pi:/bin/sh" >>"$root/etc/passwd"
DPKG_ROOT="$root" sh "$work/control/postinst" configure >"$work/postinst.out" 2>&1 ||
    fail "postinst failed: $(cat "$work/postinst.out")"

home="$root/home/pi/Ostrix"
for p in OstrixPi Ostrix_Gui qflashprog spiload; do
    [ -x "$home/$p" ] || fail "the home folder lacks $p"
done
[ -d "$home/resources" ] || fail "the home folder lacks resources/"
[ -d "$home/log" ] || fail "the home folder lacks log/"
# Every file the sample configuration names that the package ships, and every file the
# GUI reads from its working folder, is there (and its link resolves).
cfg="$home/ostrix.cfg"
[ -f "$cfg" ] || fail "the home folder lacks ostrix.cfg"
named="$(sed -n 's/^[A-Za-z0-9_]* *= *\([^ #]*\.\(txt\|settings\|bmp\|cc\)\) *$/\1/p' "$cfg")"
for name in $named QLM_FACTORY.settings audio_init.txt Si5351A-Registers.txt; do
    [ -e "$root/usr/share/ostrix/resources/$name" ] || continue
    [ -f "$home/$name" ] || fail "the home folder lacks $name"
done
for cc in "$root"/usr/share/ostrix/resources/*.cc; do
    [ -f "$home/$(basename "$cc")" ] || fail "the home folder lacks $(basename "$cc")"
done

# The units, with their paths in the scratch root, pass systemd's own check.
if command -v systemd-analyze >/dev/null; then
    mkdir -p "$work/units"
    for unit in "$root"/lib/systemd/system/ostrix*.service; do
        sed -e "s|/home/pi/Ostrix|$home|g" -e "s|/usr/share/ostrix|$root/usr/share/ostrix|g" "$unit" \
            >"$work/units/$(basename "$unit")"
    done
    systemd-analyze verify "$work"/units/*.service >"$work/verify.out" 2>&1 ||
        fail "systemd-analyze verify: $(cat "$work/verify.out")"
    grep -q '^StartLimitBurst=' "$work/units/ostrixpi.service" || fail "ostrixpi.service has no start limit"
    grep -q '^ExecStartPre=.*wait-for-devices' "$work/units/ostrixpi.service" ||
        fail "ostrixpi.service does not wait for its device nodes"
    grep -q '^TTYPath=/dev/tty' "$work/units/ostrix-gui.service" || fail "ostrix-gui.service has no VT"
fi

wait_for() { # FILE TEXT SECS
    local i
    for ((i = 0; i < $3 * 10; i++)); do
        grep -qF -- "$2" "$1" 2>/dev/null && return 0
        sleep 0.1
    done
    return 1
}
(cd "$home" && QT_QPA_PLATFORM=offscreen exec ./Ostrix_Gui) >"$work/gui.console" 2>&1 &
pids+=($!)
(cd "$home" && exec ./OstrixPi) >"$work/controller.console" 2>&1 &
pids+=($!)
wait_for "$work/controller.console" "MAIN: GUI settings collected" 120 ||
    fail "the controller did not collect the GUI's settings: $(tail -n 20 "$work/controller.console")"
log="$(ls -1 "$home"/log/QLM_logfile_*.log | tail -n 1)"
grep -qF "CK: 49 config entries" "$log" || fail "the clock script was not read (see the log)"
grep -qF "CK: Config Clocks" "$log" || fail "the clocks were not configured"
if grep -qi "file not found" "$log" "$work/gui.console"; then
    grep -i "file not found" "$log" "$work/gui.console" >&2
    fail "a configured file was not found"
fi
# The live picture on both eyepieces, once the screens are lit and the first frames are in.
eyes_show_picture() {
    local eye
    for eye in left right; do
        "$sim" snapshot --full "$eye" "$work/$eye.png" >/dev/null 2>&1 || return 1
        ! "$bin/eyecheck" dark "$work/$eye.png" >/dev/null || return 1
    done
}
for ((i = 0; i < 150; i++)); do
    eyes_show_picture && break
    sleep 0.2
done
eyes_show_picture || fail "the eyepieces show no picture ($("$sim" power))"
stop_all
echo "board_package: installed into a scratch root; controller and GUI started from its home folder"

# Shared by tests/wine/run and scripts/run: a Wine prefix of our own in which
# disk images are the physical drives, a virtual display, and the helpers that
# start Quorvane.exe and look at its windows through window-driver.exe.
#
# What Wine 8 does here (Debian 12):
# - ntdll opens \\.\PHYSICALDRIVEn as $WINEPREFIX/dosdevices/physicaldriven
#   when that link exists: plain reads and writes on the image file.
# - The registry value Disk\Enum\Count tells the program how many to try.
# - Wine takes the ANSI code page from the locale of each process:
#   LC_ALL=zh_CN.UTF-8 gives code page 936, also without a compiled locale,
#   but it passes non-ASCII parameters on only under a compiled one; the
#   locales are compiled into a folder of our own (qv_locales), not the system.
# - Wine links Tahoma to a Chinese font only under a Chinese locale; the
#   prefix replaces Tahoma by WenQuanYi Micro Hei, so the program's UTF-16
#   text draws the same under every locale.
# - Wine cannot answer IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS for an image, so
#   no drive letter matches a row; temporary names can still be defined.
# shellcheck shell=bash

WINE=/usr/lib/wine/wine64            # the 32-bit loader does not run on every kernel
WINESERVER=/usr/lib/wine/wineserver64
export WINEARCH=win64
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml="   # no Mono or Gecko prompts
# Settings the prefix is made with; a prefix made with other ones is redone.
QV_PREFIX_VERSION=3
# The locale of the Windows processes (qv_wine), and where it is compiled.
QV_LOCALE=${QV_LOCALE:-zh_CN.UTF-8}
QV_LOCPATH=${QV_LOCPATH:-}
QV_XVFB_PID=
QV_DRIVER=${QV_DRIVER:-}
QV_CLASS=QuorvaneMainWindow
# The control identifiers of ui/ControlIds.h, copied; tests/wine/run checks
# the copy against window-driver.exe's "controls", built from that header.
QV_LIST=0x8000 QV_GROUP=0x8001 QV_LETTER_CAPTION=0x8002 QV_ID_CAPTION=0x8003
QV_LABEL_CAPTION=0x8004 QV_ID_EDIT=0x8005 QV_LABEL_EDIT=0x8006 QV_MODIFY=0x8007
QV_LETTER_EDIT=0x8008 QV_CONFIRM=0x8009 QV_EXIT=0x800a

# qv_wine PROGRAM ARGS...: a Windows program in the prefix, in QV_LOCALE
# (code page 936 unless told otherwise).
qv_wine() { LOCPATH=$QV_LOCPATH LC_ALL=$QV_LOCALE "$WINE" "$@"; }

# qv_locales DIR: zh_CN, zh_TW and en_US (UTF-8) compiled into DIR, once
# (about a second each), and QV_LOCPATH set to it. Only the Wine processes
# see them, so the scripts' own messages stay as they are.
qv_locales() {
    local locale
    mkdir -p "$1"
    for locale in zh_CN zh_TW en_US; do
        [ -e "$1/$locale.UTF-8/LC_CTYPE" ] || localedef -i "$locale" -f UTF-8 "$1/$locale.UTF-8" ||
            { echo "localedef $locale failed: run scripts/install-deps" >&2; return 1; }
    done
    QV_LOCPATH=$(realpath "$1")
}

# qv_make_images DIR: the two disks of the tests and the demo, made as a
# user would make them, with sfdisk and mkfs.fat:
# disk0.img, 64 MiB: 1 FAT32 LBA (0C, active, FAT32 "OLDLABEL"), 2 Linux (83),
#                    3 extended LBA (0F) holding 5 NTFS (07) and 6 hidden FAT32 (1B)
# disk1.img, 32 MiB: 1 NTFS (07), 2 extended (05) holding 5 FAT16 (06)
qv_make_images() {
    mkdir -p "$1"
    rm -f "$1/disk1.img"
    qv_make_disk0 "$1/disk0.img" 0x1234abcd
    truncate -s 32M "$1/disk1.img"
    sfdisk --quiet --no-reread --no-tell-kernel "$1/disk1.img" >/dev/null <<'EOF'
label: dos
label-id: 0x5678ef01
unit: sectors

start=2048, size=30000, type=7
start=32048, type=5
start=34096, size=4096, type=6
EOF
}

# qv_make_disk0 FILE SIGNATURE: disk0.img's layout under a disk signature
# of its own, as a second card partitioned the same way would be.
qv_make_disk0() {
    rm -f "$1"
    truncate -s 64M "$1"
    sfdisk --quiet --no-reread --no-tell-kernel "$1" >/dev/null <<EOF
label: dos
label-id: $2
unit: sectors

start=2048, size=81920, type=c, bootable
start=83968, size=16384, type=83
start=100352, type=f
start=102400, size=12288, type=7
start=116736, type=1b
EOF
    # FAT32 needs 65525 clusters: 40 MiB with 512-byte clusters.
    mkfs.fat -F 32 -s 1 -n OLDLABEL --offset 2048 "$1" 40960 >/dev/null 2>&1
}

# qv_prefix DIR: makes (once) or reuses the prefix DIR and exports WINEPREFIX.
qv_prefix() {
    export WINEPREFIX=$1
    "$WINESERVER" -k 2>/dev/null || true
    "$WINESERVER" -w 2>/dev/null || true
    if [ "$(cat "$WINEPREFIX/.quorvane-prefix" 2>/dev/null)" = "$QV_PREFIX_VERSION" ]; then return 0; fi
    mkdir -p "$WINEPREFIX"
    echo "making the Wine prefix $WINEPREFIX (once)" >&2
    qv_wine wineboot -i </dev/null >"$WINEPREFIX/.wineboot.log" 2>&1
    "$WINESERVER" -p5 2>/dev/null || true
    local key='HKLM\SYSTEM\CurrentControlSet\Services\Disk\Enum'
    qv_wine reg add "$key" /v Count /t REG_DWORD /d 2 /f </dev/null >/dev/null 2>&1
    # No window manager under Xvfb: Wine draws the captions itself.
    qv_wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1
    # A Wine process that crashes ends with its backtrace in the log, not a
    # dialog that would stand in for a box of the program.
    qv_wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
        </dev/null >/dev/null 2>&1
    # Chinese Windows links Tahoma to a Chinese font for the characters Tahoma
    # lacks; here that font is WenQuanYi Micro Hei (fonts-wqy-microhei).
    qv_wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' /v Tahoma \
        /t REG_MULTI_SZ /d 'wqy-microhei.ttc,WenQuanYi Micro Hei' /f </dev/null >/dev/null 2>&1
    # Wine follows that link only under a Chinese locale; the replacement
    # holds under every locale, so the screens of all locales can be compared.
    qv_wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v Tahoma /d 'WenQuanYi Micro Hei' /f \
        </dev/null >/dev/null 2>&1
    "$WINESERVER" -k 2>/dev/null || true
    "$WINESERVER" -w 2>/dev/null || true
    [ -s "$WINEPREFIX/system.reg" ] || { echo "wineboot failed: $WINEPREFIX/.wineboot.log" >&2; return 1; }
    echo "$QV_PREFIX_VERSION" >"$WINEPREFIX/.quorvane-prefix"
}

# qv_disks IMAGE...: image k becomes \\.\PHYSICALDRIVEk; nothing else is a disk.
qv_disks() {
    local dos=$WINEPREFIX/dosdevices k=0 image
    # As many drives for the program to try as there are images (the tests
    # have two, the demo more); the server stops again before the links change.
    qv_wine reg add 'HKLM\SYSTEM\CurrentControlSet\Services\Disk\Enum' /v Count /t REG_DWORD /d "$#" /f \
        </dev/null >/dev/null 2>&1
    "$WINESERVER" -k 2>/dev/null || true
    "$WINESERVER" -w 2>/dev/null || true
    rm -f "$dos"/physicaldrive*
    for image in "$@"; do
        ln -sfn "$(realpath "$image")" "$dos/physicaldrive$k"
        k=$((k + 1))
    done
    # Only C: and Z: stay letters. SAFETY: the program opens every letter's
    # volume for reading and writing, and for a letter whose link is the root
    # of a mounted file system (Z: is /) Wine would open that file system's
    # block device, the host's disk. \\.\C: and \\.\Z: go to /dev/null.
    find "$dos" -maxdepth 1 -name '?:' ! -name 'c:' ! -name 'z:' -exec rm -f {} +
    find "$dos" -maxdepth 1 -name '?::' -exec rm -f {} +
    ln -sfn /dev/null "$dos/c::"
    ln -sfn /dev/null "$dos/z::"
}

# qv_display [WIDTHxHEIGHT]: a virtual screen (1024x768 unless told) when
# there is none; the Wine server is restarted so that its desktop uses it.
qv_display() {
    local n=90
    while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
    Xvfb ":$n" -screen 0 "${1:-1024x768}x24" -nolisten tcp >/dev/null 2>&1 &
    QV_XVFB_PID=$!
    export DISPLAY=":$n"
    local i
    for i in $(seq 100); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.05; done
    "$WINESERVER" -k 2>/dev/null || true
    "$WINESERVER" -w 2>/dev/null || true
}

# qv_dpi DPI: the screen density the Windows processes started from now on
# see (96 is 100 %, 144 is 150 %). Wine reads LogPixels when a process starts
# and gives every process that DPI, per-monitor aware whatever its manifest.
qv_dpi() {
    qv_wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f </dev/null >/dev/null 2>&1
}

# qv_warm: starts the Wine server and its system processes with their
# output away from any pipe (a $(...) would otherwise wait for them to end).
qv_warm() {
    "$WINESERVER" -p30 2>/dev/null || true
    qv_wine "$QV_DRIVER" screen </dev/null >/dev/null 2>&1
}

qv_stop() {
    "$WINESERVER" -k 2>/dev/null || true
    "$WINESERVER" -w 2>/dev/null || true
    if [ -n "$QV_XVFB_PID" ]; then kill "$QV_XVFB_PID" 2>/dev/null || true; wait "$QV_XVFB_PID" 2>/dev/null || true; fi
    QV_XVFB_PID=
}

# qv_screenshot WINDOW FILE: the screen, cut to the window's rectangle.
qv_screenshot() {
    local rect
    read -r -a rect <<<"$(qv_driver rect "$1")"
    import -window root "$2.full.png" &&
        convert "$2.full.png" -crop "$((rect[2] - rect[0]))x$((rect[3] - rect[1]))+${rect[0]}+${rect[1]}" +repage "$2"
    rm -f "$2.full.png"
}

# gbk_hex TEXT: the code page 936 bytes of a UTF-8 text, as window-driver prints them.
gbk_hex() {
    local hex
    hex=$(printf '%s' "$1" | iconv -f UTF-8 -t GBK | od -An -v -tx1 | tr -d ' \n')
    echo "${hex:--}"
}

# hex_utf8 HEX: the text window-driver printed, readable.
hex_utf8() {
    [ "$1" = - ] && return 0
    printf '%b' "$(sed 's/../\\x&/g' <<<"$1")" | iconv -f GBK -t UTF-8
}

# qv_driver COMMAND ARGS...: window-driver.exe (see tests/wine/WindowDriver.cpp).
# It answers 0 or 1 (2: a usage error); any other code comes from Wine or
# the system (a process that died under load), so a question is asked once
# more. Commands that act (click, post, char, settext, limited, dpichanged) are not.
qv_driver() {
    case $1 in click | post | char | settext | limited | dpichanged) qv_wine "$QV_DRIVER" "$@" </dev/null; return ;; esac
    local out rc try
    for try in 1 2; do
        out=$(qv_wine "$QV_DRIVER" "$@" </dev/null)
        rc=$?
        [ "$rc" -le 2 ] && break
        echo "window-driver $1 ended with $rc; asking again" >&2
    done
    [ -n "$out" ] && printf '%s\n' "$out"
    return "$rc"
}

# Sourced by scripts/wine-run and scripts/windows-ctest: the Wine environment of the Windows tests
# and the one-time creation of their prefix.
#
# TESSALY_WINEPREFIX overrides the prefix folder (default: /tmp/tessaly-wine-<uid>, shared by all
# build folders because a prefix costs about 0.7 GB and 10-20 s to create).

WINEPREFIX=${TESSALY_WINEPREFIX:-/tmp/tessaly-wine-$(id -u)}
# No fixme noise; no Mono/Gecko installer prompts; no winedbg, which can turn a crash into exit 0.
WINEDEBUG=-all
WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
export WINEPREFIX WINEDEBUG WINEDLLOVERRIDES

tessaly_wine_ready_marker="$WINEPREFIX/.tessaly-prefix-ready"

# The registry settings the GUI tests rely on, as REGEDIT4 with CRLF line ends (Wine's regedit
# stores UTF-16 hex(7) data of a "version 5" file byte by byte):
# - CJK text: SimSun and NSimSun (in the default links of the UI fonts) are WenQuanYi Micro Hei;
# - bold captions: Tahoma Bold has no default link, so window captions would show boxes;
# - a virtual desktop: without a window manager Wine waits 2 s whenever a top-level window hides.
tessaly_wine_write_reg() {
    printf '%s\r\n' \
        'REGEDIT4' \
        '' \
        '[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]' \
        '"SimSun"="WenQuanYi Micro Hei"' \
        '"NSimSun"="WenQuanYi Micro Hei"' \
        '' \
        '[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink]' \
        '"Tahoma Bold"=hex(7):77,71,79,2d,6d,69,63,72,6f,68,65,69,2e,74,74,63,2c,57,65,6e,51,75,61,6e,59,69,20,4d,69,63,72,6f,20,48,65,69,00,00' \
        '' \
        '[HKEY_CURRENT_USER\Software\Wine\Explorer]' \
        '"Desktop"="shell"' \
        '' \
        '[HKEY_CURRENT_USER\Software\Wine\Explorer\Desktops]' \
        '"shell"="1024x768"' \
        '' >"$1"
}

# Creates the prefix once; concurrent callers (ctest -j) wait on the lock instead of racing.
tessaly_wine_setup() {
    [ -e "$tessaly_wine_ready_marker" ] && return 0
    mkdir -p "$(dirname "$WINEPREFIX")"
    (
        flock 9
        [ -e "$tessaly_wine_ready_marker" ] && exit 0
        echo "wine-run: creating the Wine prefix $WINEPREFIX" >&2
        started=$(date +%s)
        # No display: wineboot needs none, and a running X server would only slow it down.
        DISPLAY= wineboot -i </dev/null >/dev/null 2>&1 || { echo "wine-run: wineboot failed" >&2; exit 1; }
        # Debian's Wine never looks in /usr/share/wine/fonts, only in C:\windows\Fonts.
        cp /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/"
        reg="$WINEPREFIX/drive_c/tessaly-prefix.reg"
        tessaly_wine_write_reg "$reg"
        DISPLAY= wine regedit /S 'C:\tessaly-prefix.reg' </dev/null >/dev/null 2>&1 ||
            { echo "wine-run: regedit failed" >&2; exit 1; }
        # Let the registry reach the disk before anyone else uses the prefix.
        wineserver -w
        touch "$tessaly_wine_ready_marker"
        echo "wine-run: prefix ready in $(($(date +%s) - started)) s" >&2
    ) 9>"$WINEPREFIX.lock"
}

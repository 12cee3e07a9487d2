#!/usr/bin/env bash
# The demo: builds the loader, the sample plug-ins, the monitor stand-in and pelhost, installs
# a small suite under build/win64/demo/ with a Wine prefix of its own, and runs the scripted
# session of demo/session.txt with pelhost: the plug-ins are started, switched on and off, told
# of a settings change and closed, and the monitor program is started and told the loader's
# state. Ends by itself and stops the demo's Wine server.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

bash scripts/setup.sh

# PEL_BUILD_DIR builds and runs the demo in another build folder of the win64 preset.
build=$(realpath -m "${PEL_BUILD_DIR:-build/win64}")
bin=$build/bin
demo=$build/demo
suite=$demo/suite
mkdir -p "$demo"

echo "demo: building (the first build takes a few minutes)"
targets=(pelhost PelLoader VemmBase QXInstall sample_dll_plugin sample_com_plugin qxmonxp)
if ! { cmake --preset win64 -B "$build" && cmake --build "$build" --target "${targets[@]}"; } \
        >"$demo/build.log" 2>&1; then
    tail -n 40 "$demo/build.log"
    echo "demo: the build failed; the whole log is in $demo/build.log" >&2
    exit 1
fi

export WINEPREFIX=$demo/prefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64
WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver64
[ -x "$WINESERVER" ] || WINESERVER=wineserver

# Wine's server and services must not hold on to our output, or whoever reads it waits.
detached() { "$@" </dev/null >/dev/null 2>&1; }
stop_wine() {
    detached "$WINESERVER" -k || true
    detached "$WINESERVER" -w || true
}

# A Unix path as the Windows program sees it (Wine's drive Z: is /).
winpath() {
    local path
    path=$(realpath -m "$1")
    printf 'Z:%s' "${path//\//\\}"
}

# UTF-8 text with Unix line ends in, UTF-16LE with a byte-order mark and CR LF out.
to_utf16() {
    printf '\xff\xfe'
    sed 's/$/\r/' | iconv -f UTF-8 -t UTF-16LE
}

# The demo's own prefix, made once: headless, like the test prefixes, and copied from the
# tree's ready-made template prefix when the tests have already made one.
template=$root/build/wineprefix-template
if [ ! -f "$WINEPREFIX/.pel-ready" ]; then
    rm -rf "$WINEPREFIX"
    if [ -f "$template/.pel-ready" ]; then
        echo "demo: copying the Wine prefix $template"
        cp -a "$template" "$WINEPREFIX"
    else
        echo "demo: creating the Wine prefix $WINEPREFIX"
        mkdir -p "$WINEPREFIX"
        detached "$WINE" wineboot -i
        detached "$WINE" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f
        stop_wine
        touch "$WINEPREFIX/.pel-ready"
    fi
fi
trap stop_wine EXIT
detached "$WINESERVER" -p || true
detached "$WINE" wineboot

echo "demo: installing the suite in $suite"
rm -rf "$suite" "$demo/store.reg" "$demo/monitor.log" "$demo/session.log"
mkdir -p "$suite"
while read -r file folder name; do
    [[ -z "$file" || "$file" == \#* ]] && continue
    mkdir -p "$suite/$folder"
    cp "$bin/$file" "$suite/$folder/$name"
done <demo/layout.txt
(cd demo/suite && find . -type f) | while read -r document; do
    mkdir -p "$(dirname "$suite/$document")"
    to_utf16 <"demo/suite/$document" >"$suite/$document"
done

store='HKEY_LOCAL_MACHINE\Software\PelSuite\Store'
suite_escaped=$(winpath "$suite")
suite_escaped=${suite_escaped//\\/\\\\}
template=$(cat demo/store.reg)
template=${template//@STORE@/"$store"}
template=${template//@SUITE@/"$suite_escaped"}
printf '%s\n' "$template" | to_utf16 >"$demo/store.reg"
detached "$WINE" reg delete "$store" /f || true
if ! detached "$WINE" reg import "$(winpath "$demo/store.reg")"; then
    echo "demo: importing $demo/store.reg failed" >&2
    exit 1
fi

echo "demo: running pelhost with demo/session.txt: init 7, on, off, notify 18, exit"
echo "      (each line: milliseconds since start, thread id, then a call of the host and its"
echo "      result, or a diagnostic message of the loader or a plug-in; the pause at notify 18"
echo "      is the loader starting the monitor program and waiting for its window)"
echo
status=0
env -u VEMM_STORE_ROOT PEL_MONITOR_LOG="$(winpath "$demo/monitor.log")" PEL_MONITOR_EXIT_MS=30000 \
    "$WINE" "$suite/Host/pelhost.exe" <demo/session.txt >"$demo/session.log" 2>&1 || status=$?
cat "$demo/session.log"
echo
if [ -f "$demo/monitor.log" ]; then
    echo "The monitor program's log ($demo/monitor.log):"
    sed 's/\r$//; s/ data=[0-9a-f]*//; s/^/  /' "$demo/monitor.log"
    echo
fi

failed=0
check() {  # check <what> <file> <text>...: every text must occur in the file
    local what=$1 file=$2
    shift 2
    for text in "$@"; do
        if ! grep -qF -- "$text" "$file" 2>/dev/null; then
            echo "  MISSING  $what: no \"$text\""
            failed=1
            return
        fi
    done
    echo "  ok       $what"
}
echo "What the demo showed:"
check "both plug-ins loaded and initialised" "$demo/session.log" \
    "SampleDll: DllInit(0, 0, 0)" "SampleCom: PluginInit(0, 0, 0)"
check "both plug-ins switched on" "$demo/session.log" \
    "SampleDll: menu handler state=1" "SampleCom: PluginMenuHandle state=1"
check "both plug-ins switched off" "$demo/session.log" \
    "SampleDll: menu handler state=0" "SampleCom: PluginMenuHandle state=0"
check "the settings change reached both plug-ins" "$demo/session.log" \
    "SampleDll: KIChange(0, 0)" "SampleCom: PluginSetupChange(0, 0)"
check "the monitor program started and was told the state" "$demo/monitor.log" \
    "nCode=1330 nState=1"
check "both plug-ins closed at Exit" "$demo/session.log" \
    "SampleDll: DllClose()" "SampleCom: PluginExit(0)" "Exit() = 1"
if [ "$(grep -c 'DllInit(' "$demo/session.log")" != 1 ]; then
    echo "  MISSING  the disabled component SampleIdle stayed off"
    failed=1
else
    echo "  ok       the disabled component SampleIdle stayed off"
fi

echo
echo "demo: stopping the demo's Wine server"
if [ "$status" -ne 0 ] || [ "$failed" -ne 0 ]; then
    echo "demo: something went wrong (pelhost exit status $status)" >&2
    exit 1
fi

# Sourced by the Windows scripts: where Qt for Windows is, the cross build's folder and the
# configure line, and a private Wine prefix with the DLLs on its path.
QT_WINDOWS_PREFIX=${QT_WINDOWS_PREFIX:-/opt/qt6-mingw64}
WINDOWS_BUILD_DIR=${WINDOWS_BUILD_DIR:-build-windows}
MINGW_GCC_DIR=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-libgcc-file-name 2>/dev/null || echo /usr/lib/gcc/x86_64-w64-mingw32/12-posix/x)")
MINGW_LIB_DIR=/usr/x86_64-w64-mingw32/lib

configure_windows() {
    cmake -S . -B "$WINDOWS_BUILD_DIR" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" \
        -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_PREFIX_PATH="$QT_WINDOWS_PREFIX" -DQT_WINDOWS_PREFIX="$QT_WINDOWS_PREFIX" \
        -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
        -DCMAKE_CROSSCOMPILING_EMULATOR="$PWD/scripts/windows/wine-run" "$@"
}

# A Wine prefix of the build's own, booted with its output kept out of the caller's pipe (a
# wineserver holding the pipe open would hang ctest), under an X display of its own.
start_wine() {
    export WINEPREFIX=${WINEPREFIX:-$PWD/$WINDOWS_BUILD_DIR/wineprefix} WINEARCH=win64 WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml="
    export WINEPATH="Z:$QT_WINDOWS_PREFIX/bin;Z:$MINGW_GCC_DIR;Z:$MINGW_LIB_DIR"
    if [ -z "${DISPLAY:-}" ]; then
        local n
        for n in $(seq 90 120); do
            [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || break
        done
        Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
        XVFB_PID=$!
        export DISPLAY=":$n"
        for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
    fi
    mkdir -p "$WINEPREFIX"
    wineserver -p </dev/null >/dev/null 2>&1
    wineboot -i </dev/null >"$WINEPREFIX/../wineboot.log" 2>&1 || true
}

stop_wine() {
    wineserver -k </dev/null >/dev/null 2>&1 || true
    [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2>/dev/null || true
}

# COMn of the prefix refers to the link; the link is re-pointed to a simulator's terminal.
map_com_port() {
    local com=$1 link=$2
    wine reg add 'HKLM\Software\Wine\Ports' /v "$com" /t REG_SZ /d "$link" /f </dev/null >/dev/null 2>&1
    # Wine reads the key when its mount manager starts; the prefix's own device link makes the
    # mapping hold at once.
    ln -sfn "$link" "$WINEPREFIX/dosdevices/$(echo "$com" | tr 'A-Z' 'a-z')"
}

# Wine hands a program no QT_* variable of the caller's; the prefix's own environment does.
set_wine_environment() {
    local name
    for name in "$@"; do
        wine reg add 'HKCU\Environment' /v "$name" /t REG_SZ /d "${!name}" /f </dev/null >/dev/null 2>&1
    done
}

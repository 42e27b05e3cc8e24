#!/usr/bin/env bash
# Installs what building and testing Tavrin needs on Debian 12, skipping what is there.
set -euo pipefail
packages=(
  cmake ninja-build g++ gcc make pkg-config
  clang libclang-rt-14-dev llvm-14
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix wine wine64
  googletest libgtest-dev rapidjson-dev libssl-dev libcurl4-openssl-dev ca-certificates
  python3 python3-pytest locales
  chromium fonts-noto-cjk fonts-inter fonts-jetbrains-mono python3-fonttools python3-brotli
  wrk
  libcpp-httplib-dev libicu-dev libsodium-dev libsqlite3-dev libpq-dev postgresql-15 openssl
  librsvg2-bin libglib2.0-dev libwebkit2gtk-4.1-dev xdg-user-dirs
  xvfb xauth xdotool python3-xlib
  m4 dpkg-dev xz-utils file
)
missing=()
# Node.js may come from a package that bundles npm (and conflicts with Debian's npm).
command -v node >/dev/null && command -v npm >/dev/null || packages+=(nodejs npm)
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  # several builds may share this machine: wait for the package lock instead of failing
  apt-get -o DPkg::Lock::Timeout=900 install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The Wine lane runs as a Simplified Chinese system; Wine needs the matching Unix locale.
if ! locale -a 2>/dev/null | grep -qix 'zh_CN.utf8'; then
  echo "setup: generating the zh_CN.UTF-8 locale"
  localedef -i zh_CN -f UTF-8 zh_CN.UTF-8
fi

# Wine prefix of our own, made once (the first start of Wine takes a while).
here=$(cd "$(dirname "$0")" && pwd)
prefix=${TAVRIN_WINEPREFIX:-$HOME/.wine-tavrin}
if [ ! -f "$prefix/system.reg" ]; then
  echo "setup: creating the Wine prefix $prefix"
  WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i >/dev/null 2>&1 || true
  WINEPREFIX=$prefix wineserver -w 2>/dev/null || true  # the registry is on disk once it ends
fi
# A crashing test program ends at once with its exception code, as on Windows, where the
# program's error mode keeps crash boxes away. Wine ignores that mode and starts its debugger
# for every crash: half a second each, and a process that can outlive the run it belongs to.
if [ -f "$prefix/system.reg" ] && ! grep -q '^"Debugger"=""' "$prefix/system.reg"; then
  WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
    wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /t REG_SZ /d "" /f \
    >/dev/null 2>&1 || true
  WINEPREFIX=$prefix wineserver -w 2>/dev/null || true
fi

# The page's build tools come from npm, pinned by web/package-lock.json.
if [ -f "$here/../web/package.json" ] && [ ! -d "$here/../web/node_modules" ]; then
  echo "setup: installing the page's npm packages"
  (cd "$here/../web" && npm ci --no-audit --no-fund --loglevel=error)
fi

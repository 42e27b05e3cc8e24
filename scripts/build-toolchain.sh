#!/usr/bin/env bash
# Builds the Windows-hosted GCC (C and C++) that the Windows program folder carries in toolchain/.
# A Canadian cross made with Debian's mingw-w64 cross compiler, from Debian's own sources only:
# gcc-12-source and binutils-source ship the upstream tarballs; GMP, MPFR and MPC come from their
# Debian source packages through a private apt configuration (the system's one is left alone).
# The target side (headers, CRT, libgcc, libstdc++, winpthreads) is copied from Debian's mingw-w64
# packages of the same GCC, so the result compiles what the cross compiler compiles.
#
# The result is kept in a cache folder keyed by the recipe (this script, its patches and the
# package versions); later runs only copy it.
#
#   scripts/build-toolchain.sh [--dest DIR]   build (or reuse) and copy the toolchain to DIR
#   scripts/build-toolchain.sh --print-dir    build (or reuse) and print the cached folder
#   scripts/build-toolchain.sh --key          print the cache key and exit
#
# TAVRIN_TOOLCHAIN_CACHE (default /var/cache/tavrin-toolchain), TAVRIN_TOOLCHAIN_JOBS (default 2).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
script="$here/$(basename "$0")"
patches="$here/toolchain-patches"
cache_root=${TAVRIN_TOOLCHAIN_CACHE:-/var/cache/tavrin-toolchain}
jobs=${TAVRIN_TOOLCHAIN_JOBS:-2}
T=x86_64-w64-mingw32
B=$(gcc -dumpmachine)
mingw_gcc_lib=/usr/lib/gcc/$T/12-posix
mingw_root=/usr/$T

dest="" mode=copy
while (($#)); do
  case $1 in
    --dest) dest=$2; shift 2 ;;
    --print-dir) mode=print; shift ;;
    --key) mode=key; shift ;;
    *) echo "build-toolchain: unknown option $1" >&2; exit 2 ;;
  esac
done

die() { echo "build-toolchain: $*" >&2; exit 1; }
for tool in $T-gcc-posix $T-g++-posix $T-strip gcc g++ make m4 dpkg-source dpkg-deb apt-get xz flock; do
  command -v "$tool" >/dev/null || die "$tool is missing (scripts/setup.sh installs it)"
done
[ -d "$mingw_gcc_lib" ] || die "$mingw_gcc_lib is missing (gcc-mingw-w64-x86-64-posix)"

# Exact versions: the binary packages that ship tarballs, the source packages behind the
# libraries GCC needs, and the installed packages the target files are copied from.
candidate() { apt-cache show --no-all-versions "$1" 2>/dev/null | sed -n 's/^Version: //p' | head -1; }
installed() { dpkg-query -W -f='${Version}' "$1" 2>/dev/null; }
source_of() { # binary package -> "source version" of its candidate
  local rec src ver
  rec=$(apt-cache show --no-all-versions "$1" 2>/dev/null)
  ver=$(sed -n 's/^Version: //p' <<<"$rec" | head -1)
  src=$(sed -n 's/^Source: //p' <<<"$rec" | head -1)
  if [[ $src == *"("*")"* ]]; then ver=${src#*(}; ver=${ver%)}; src=${src%% *}; fi
  echo "${src:-$1} $ver"
}
gcc_src_ver=$(candidate gcc-12-source)
binutils_src_ver=$(candidate binutils-source)
read -r gmp_pkg gmp_ver < <(source_of libgmp-dev)
read -r mpfr_pkg mpfr_ver < <(source_of libmpfr-dev)
read -r mpc_pkg mpc_ver < <(source_of libmpc-dev)
[ -n "$gcc_src_ver" ] && [ -n "$binutils_src_ver" ] && [ -n "$gmp_ver" ] && [ -n "$mpfr_ver" ] && [ -n "$mpc_ver" ] ||
  die "apt knows no gcc-12-source/binutils-source/libgmp-dev/libmpfr-dev/libmpc-dev (run apt-get update)"
versions="gcc-12-source $gcc_src_ver
binutils-source $binutils_src_ver
$gmp_pkg (source) $gmp_ver
$mpfr_pkg (source) $mpfr_ver
$mpc_pkg (source) $mpc_ver
mingw-w64-x86-64-dev $(installed mingw-w64-x86-64-dev)
mingw-w64-common $(installed mingw-w64-common)
gcc-mingw-w64-x86-64-posix-runtime $(installed gcc-mingw-w64-x86-64-posix-runtime)
g++-mingw-w64-x86-64-posix $(installed g++-mingw-w64-x86-64-posix)
gcc-mingw-w64-x86-64-posix $(installed gcc-mingw-w64-x86-64-posix)"
src_key=$(sha256sum <<<"$versions" | cut -c1-16)
key=$( { cat "$script"; cat "$patches"/*.patch 2>/dev/null; echo "$versions"; } | sha256sum | cut -c1-16)
[ $mode = key ] && { echo "$key"; exit 0; }

out="$cache_root/$key"
mkdir -p "$cache_root"
exec 9>"$cache_root/.lock"
if ! flock -n 9; then
  echo "build-toolchain: another build holds $cache_root/.lock, waiting for it"
  flock 9
fi

finish() {
  if [ $mode = print ]; then echo "$out/toolchain"; return; fi
  [ -n "$dest" ] || return 0
  # Copy only when the destination is not already this exact toolchain.
  if [ -f "$dest/.tavrin-toolchain-key" ] && [ "$(cat "$dest/.tavrin-toolchain-key")" = "$key" ]; then return; fi
  rm -rf "$dest.tmp" "$dest"
  mkdir -p "$(dirname "$dest")"
  cp -a "$out/toolchain" "$dest.tmp"
  echo "$key" >"$dest.tmp/.tavrin-toolchain-key"
  mv "$dest.tmp" "$dest"
}
if [ -f "$out/complete" ]; then finish; exit 0; fi

# ---- the build --------------------------------------------------------------------------------
W="$cache_root/work-$src_key"       # survives recipe edits: each stage has its own stamp
mkdir -p "$W/stamps" "$out"
log="$out/build.log"
: >"$log"
started=$(date +%s)
say() { local t=$(($(date +%s) - started)); printf 'build-toolchain: [%2d:%02d] %s\n' $((t / 60)) $((t % 60)) "$*" | tee -a "$log" >&2; }
say "building the Windows toolchain into $out (log: $log); first time only, about half an hour on two cores"

export PATH="/usr/bin:/bin:$PATH" LC_ALL=C
host_env=(CC="$T-gcc-posix" CXX="$T-g++-posix" AR="$T-ar" RANLIB="$T-ranlib" NM="$T-nm" STRIP="$T-strip"
  CC_FOR_BUILD=gcc CXX_FOR_BUILD=g++ CFLAGS="-O2" CXXFLAGS="-O2" LDFLAGS="-static")
H="$W/host"   # static GMP, MPFR, MPC for the Windows host

declare -A stage_hash
run_stage() { # name deps... : runs stage_<name> unless its stamp (recipe + deps) is there
  local name=$1; shift
  local h; h=$( { declare -f "stage_$name"; echo "$versions"; for d in "$@"; do echo "${stage_hash[$d]}"; done
    if [ "$name" = binutils ]; then cat "$patches"/*.patch 2>/dev/null || true; fi; } | sha256sum | cut -c1-16)
  stage_hash[$name]=$h
  stage_h=$h
  if [ -f "$W/stamps/$name.$h" ]; then say "$name: done before"; return; fi
  rm -f "$W/stamps/$name".*
  say "$name: start"
  local s=$(date +%s)
  # not inside a condition: there bash would ignore set -e within the stage
  local rc
  set +e
  (set -e; cd "$W"; "stage_$name") >>"$log" 2>&1
  rc=$?
  set -e
  if [ $rc -ne 0 ]; then
    tail -n 40 "$log" >&2
    die "$name failed; the whole log is $log"
  fi
  touch "$W/stamps/$name.$h"
  say "$name: done in $(( ($(date +%s) - s) / 60 )) min $(( ($(date +%s) - s) % 60 )) s"
}

apt_private() {
  local A="$W/apt"
  apt-get -o Dir::Etc::sourcelist="$A/sources.list" -o Dir::Etc::sourceparts="$A/empty" \
    -o Dir::State::Lists="$A/lists" -o Dir::Cache="$A/cache" -o Dir::Cache::archives="$A/cache/archives" \
    -o Dir::Etc::preferencesparts="$A/empty" -o APT::Sandbox::User=root -q "$@"
}

stage_fetch() {
  local A="$W/apt"
  rm -rf "$A" src debs && mkdir -p "$A/lists/partial" "$A/cache/archives/partial" "$A/empty" src debs
  # The same archives as the system's Debian entries, with their sources added.
  python3 - "$A/sources.list" <<'PY'
import glob, re, sys
out = []
def add(uri, suite, comps, signed):
    if "debian" not in uri:
        return
    opt = f"[signed-by={signed}] " if signed else ""
    for t in ("deb", "deb-src"):
        out.append(f"{t} {opt}{uri} {suite} {' '.join(comps)}")
for f in glob.glob("/etc/apt/sources.list") + sorted(glob.glob("/etc/apt/sources.list.d/*.list")):
    for line in open(f, encoding="utf-8", errors="replace"):
        line = line.split("#", 1)[0].strip()
        m = re.match(r"deb\s+(\[[^\]]*\]\s+)?(\S+)\s+(\S+)\s+(.*)", line)
        if m:
            s = re.search(r"signed-by=(\S+?)[\s\]]", m.group(1) or "")
            add(m.group(2), m.group(3), m.group(4).split(), s.group(1) if s else "")
for f in sorted(glob.glob("/etc/apt/sources.list.d/*.sources")):
    for block in re.split(r"\n\s*\n", open(f, encoding="utf-8", errors="replace").read()):
        fields = {}
        for line in block.splitlines():
            if line.startswith("#") or ":" not in line:
                continue
            k, v = line.split(":", 1)
            fields[k.strip().lower()] = v.strip()
        if "deb" not in fields.get("types", "").split() or fields.get("enabled", "yes") == "no":
            continue
        for uri in fields.get("uris", "").split():
            for suite in fields.get("suites", "").split():
                add(uri, suite, fields.get("components", "").split(), fields.get("signed-by", ""))
if not out:
    sys.exit("no Debian archive in the system's apt sources")
open(sys.argv[1], "w").write("\n".join(dict.fromkeys(out)) + "\n")
PY
  cat "$A/sources.list"
  apt_private update
  (cd debs && apt_private download "gcc-12-source=$gcc_src_ver" "binutils-source=$binutils_src_ver")
  (cd src && apt_private source "$gmp_pkg=$gmp_ver" "$mpfr_pkg=$mpfr_ver" "$mpc_pkg=$mpc_ver")
  for d in debs/*.deb; do dpkg-deb -x "$d" debs/root; done
  local g; g=$(ls debs/root/usr/src/gcc-12/gcc-*.tar.*); tar -C src -xf "$g"
  local b; b=$(ls debs/root/usr/src/binutils/binutils-*.tar.*); tar -C src -xf "$b"
  ls src
}

# A long stage cut short (a stopped machine, a closed session) resumes in its build folder:
# configure runs again only when this recipe's configure did not finish there.
configure_once() { # folder command...
  local dir=$1; shift
  [ -f "$dir/.configured-$stage_h" ] && return 0
  rm -rf "$dir" && mkdir "$dir"
  (cd "$dir" && "$@")
  touch "$dir/.configured-$stage_h"
}

srcdir() { # the one extracted folder matching a pattern
  local d; d=$(find "$W/src" -mindepth 1 -maxdepth 1 -type d -name "$1" | head -1)
  [ -n "$d" ] || { echo "no source folder $1" >&2; return 1; }
  echo "$d"
}

stage_gmp() {
  local s; s=$(srcdir 'gmp-*')
  # Debian's dfsg tarball has no doc/: leave it out of configure's outputs and the subfolders.
  if [ ! -f "$s/doc/Makefile.in" ]; then
    sed -i 's| doc/Makefile||' "$s/configure"
    sed -i 's|^\(SUBDIRS = .*\) doc$|\1|; s|^\(SUBDIRS = .*\) doc |\1 |' "$s/Makefile.in"
  fi
  rm -rf b-gmp && mkdir b-gmp && cd b-gmp
  "$s/configure" --build="$B" --host=$T --prefix="$H" --enable-static --disable-shared --enable-cxx=no \
    "${host_env[@]}"
  make -j"$jobs"
  make install
  cd .. && rm -rf b-gmp
}

stage_mpfr() {
  local s; s=$(srcdir 'mpfr4-*')
  rm -rf b-mpfr && mkdir b-mpfr && cd b-mpfr
  "$s/configure" --build="$B" --host=$T --prefix="$H" --enable-static --disable-shared --with-gmp="$H" \
    "${host_env[@]}"
  make -j"$jobs"
  make install
  cd .. && rm -rf b-mpfr
}

stage_mpc() {
  local s; s=$(srcdir 'mpclib3-*')
  rm -rf b-mpc && mkdir b-mpc && cd b-mpc
  "$s/configure" --build="$B" --host=$T --prefix="$H" --enable-static --disable-shared --with-gmp="$H" \
    --with-mpfr="$H" "${host_env[@]}"
  make -j"$jobs"
  make install
  cd .. && rm -rf b-mpc
}

stage_gcc() {
  local s; s=$(srcdir 'gcc-12*')
  # GCC decides from the build sysroot's mingw/include whether its limits.h chains to the C library's.
  rm -rf sysroot && mkdir -p sysroot/mingw && ln -s "$mingw_root/include" sysroot/mingw/include
  rm -rf inst-gcc
  configure_once b-gcc "$s/configure" --build="$B" --host=$T --target=$T --prefix=/toolchain \
    --enable-languages=c,c++ --disable-bootstrap --disable-nls --disable-multilib --disable-lto \
    --enable-threads=posix --enable-shared --enable-static --enable-version-specific-runtime-libs \
    --enable-fully-dynamic-string --enable-libstdcxx-time=yes --with-tune=generic \
    --with-gcc-major-version-only --without-isl --without-zstd --disable-win32-registry \
    --enable-checking=release --with-build-sysroot="$W/sysroot" \
    --with-gmp="$H" --with-mpfr="$H" --with-mpc="$H" \
    --with-host-libstdcxx='-static-libgcc -static-libstdc++' \
    "${host_env[@]}" CC_FOR_TARGET=$T-gcc-posix CXX_FOR_TARGET=$T-g++-posix MAKEINFO=true
  cd b-gcc
  make -j"$jobs" all-gcc MAKEINFO=true
  # The dfsg tarball lacks the texinfo documents; the hook documentation stamp is not needed.
  touch gcc/s-tm-texi
  make install-gcc DESTDIR="$W/inst-gcc" MAKEINFO=true
  cd .. && rm -rf b-gcc
}

stage_binutils() {
  local s; s=$(srcdir 'binutils-*')
  local p
  for p in "$patches"/*.patch; do
    [ -f "$p" ] || continue
    # apply once: a patch already in the tree reverses cleanly
    patch -d "$s" -p1 -R --dry-run -s -f <"$p" >/dev/null 2>&1 || patch -d "$s" -p1 -s -f <"$p"
  done
  rm -rf inst-binutils
  configure_once b-binutils "$s/configure" --build="$B" --host=$T --target=$T --prefix=/toolchain \
    --disable-nls --disable-multilib --disable-gdb --disable-gdbserver --disable-sim --disable-gprofng \
    --disable-readline --disable-werror --disable-install-libbfd --disable-gprof --disable-libctf --disable-shared --enable-static \
    --with-system-zlib=no --without-zstd --without-debuginfod \
    "${host_env[@]}" MAKEINFO=true
  cd b-binutils
  # only what a compile needs: the assembler, the linker and the binary tools (no gprof)
  make -j"$jobs" all-gas all-ld all-binutils MAKEINFO=true
  make install-gas install-ld install-binutils DESTDIR="$W/inst-binutils" MAKEINFO=true
  cd .. && rm -rf b-binutils
}

# Import libraries and static libraries a learner's program may link; the rest of the
# system DLLs' import libraries (some 800) stay out.
keep_libs="mingw32 mingwex mingwthrd moldname msvcrt m winpthread pthread ucrt ucrtbase
  kernel32 user32 advapi32 shell32 gdi32 comdlg32 comctl32 ws2_32 wsock32 mswsock winmm ole32 oleaut32
  uuid psapi shlwapi ntdll version imm32 winspool opengl32 glu32 dbghelp bcrypt crypt32 secur32
  iphlpapi setupapi rpcrt4 dwmapi uxtheme msimg32 gdiplus"

stage_assemble() {
  local R="$W/toolchain" gv=12 p f
  rm -rf "$R" && mkdir -p "$R"
  local G="$W/inst-gcc/toolchain" BU="$W/inst-binutils/toolchain"
  # host programs: the drivers, the compilers proper, the binutils a build needs
  mkdir -p "$R/bin" "$R/libexec/gcc/$T/$gv" "$R/$T/bin" "$R/lib/gcc/$T/$gv" "$R/$T/lib" "$R/$T/include"
  for f in gcc g++ c++ cpp gcov; do cp "$G/bin/$f.exe" "$R/bin/"; done
  for f in cc1 cc1plus collect2 lto-wrapper; do
    [ -f "$G/libexec/gcc/$T/$gv/$f.exe" ] && cp "$G/libexec/gcc/$T/$gv/$f.exe" "$R/libexec/gcc/$T/$gv/"
  done
  for f in as ld ar nm objdump ranlib strip; do cp "$BU/bin/$f.exe" "$R/bin/"; done
  for f in size strings addr2line objcopy readelf dlltool windres c++filt; do
    if [ -f "$BU/bin/$f.exe" ]; then cp "$BU/bin/$f.exe" "$R/bin/"; fi
  done
  for f in as ld ar nm objdump ranlib strip dlltool; do
    if [ -f "$R/bin/$f.exe" ]; then cp "$R/bin/$f.exe" "$R/$T/bin/"; fi
  done
  if [ -d "$BU/$T/lib/ldscripts" ]; then cp -r "$BU/$T/lib/ldscripts" "$R/$T/lib/"; fi
  # GCC's own headers as this build made them (limits.h chains to the C library's)
  cp -r "$G/lib/gcc/$T/$gv/include" "$G/lib/gcc/$T/$gv/include-fixed" "$R/lib/gcc/$T/$gv/"
  # the target side from Debian's cross compiler of the same GCC
  for f in crtbegin.o crtend.o crtfastmath.o libgcc.a libgcc_eh.a libgcc_s.a libstdc++.a libstdc++.dll.a \
      libstdc++fs.a libsupc++.a libatomic.a libatomic.dll.a libquadmath.a libquadmath.dll.a libssp.a \
      libssp.dll.a libssp_nonshared.a; do
    cp "$mingw_gcc_lib/$f" "$R/lib/gcc/$T/$gv/"
  done
  cp -r "$mingw_gcc_lib/include/c++" "$R/lib/gcc/$T/$gv/include/"
  for f in libgcc_s_seh-1.dll libstdc++-6.dll libatomic-1.dll libquadmath-0.dll libssp-0.dll; do
    cp "$mingw_gcc_lib/$f" "$R/bin/"
  done
  # mingw-w64 headers and CRT: only the files of Debian's packages (targets of its symlinks)
  dpkg-query -L mingw-w64-x86-64-dev mingw-w64-common | while read -r p; do
    case $p in
      "$mingw_root/include/"*) [ -d "$p" ] && continue
        mkdir -p "$(dirname "$R/$T/include/${p#"$mingw_root/include/"}")"
        cp -L "$p" "$R/$T/include/${p#"$mingw_root/include/"}" ;;
    esac
  done
  dpkg-query -L mingw-w64-x86-64-dev | grep "^$mingw_root/lib/[^/]*$" | while read -r p; do
    f=$(basename "$p")
    case $f in
      *.o) cp -L "$p" "$R/$T/lib/" ;;
      libwinpthread-1.dll) cp -L "$p" "$R/bin/" ;;
      lib*.a) local n=${f#lib}; n=${n%.a}
        # no .dll.a of winpthread: the judge's static flags would import libwinpthread-1.dll
        case " $(echo $keep_libs) " in *" $n "*) cp -L "$p" "$R/$T/lib/" ;; esac ;;
    esac
  done
  rm -f "$R/$T/lib/libwinpthread.dll.a" "$R/$T/lib/libpthread.dll.a"
  find "$R" -name '*.exe' -exec $T-strip --strip-all {} +
  # the host programs must run on a bare Windows: only system DLLs imported
  for f in "$R"/bin/*.exe "$R"/libexec/gcc/$T/$gv/*.exe "$R"/$T/bin/*.exe; do
    local bad; bad=$($T-objdump -p "$f" | sed -n 's/^\s*DLL Name: //p' |
      grep -viE '^(kernel32|msvcrt|user32|advapi32|shell32|ws2_32)\.dll$' || true)
    [ -z "$bad" ] || { echo "$f imports $bad"; return 1; }
  done
  # licences and where everything came from
  mkdir -p "$R/licenses/gcc" "$R/licenses/binutils" "$R/licenses/gmp" "$R/licenses/mpfr" "$R/licenses/mpc" \
    "$R/licenses/mingw-w64"
  local sg sb; sg=$(srcdir 'gcc-12*'); sb=$(srcdir 'binutils-*')
  cp "$sg"/COPYING* "$R/licenses/gcc/"
  cp "$sb"/COPYING* "$R/licenses/binutils/"
  cp "$(srcdir 'gmp-*')"/COPYING* "$R/licenses/gmp/"
  cp "$(srcdir 'mpfr4-*')"/COPYING* "$R/licenses/mpfr/"
  cp "$(srcdir 'mpclib3-*')"/COPYING* "$R/licenses/mpc/"
  for p in mingw-w64-common mingw-w64-x86-64-dev gcc-mingw-w64-base gcc-mingw-w64-x86-64-posix-runtime; do
    [ -f "/usr/share/doc/$p/copyright" ] && cp "/usr/share/doc/$p/copyright" "$R/licenses/mingw-w64/$p.copyright"
  done
  for p in gcc-12-source binutils-source; do
    cp "$W/debs/root/usr/share/doc/$p/copyright" "$R/licenses/$p.copyright" 2>/dev/null || true
  done
  mkdir -p "$R/recipe"
  cp "$script" "$R/recipe/"
  cp "$patches"/*.patch "$R/recipe/" 2>/dev/null || true
  {
    echo "GCC 12 for Windows (x86_64-w64-mingw32), C and C++, built on Debian by"
    echo "recipe/build-toolchain.sh (with the patches beside it) from these Debian packages:"
    echo
    echo "$versions"
    echo
    echo "Host programs (bin/, libexec/, $T/bin/): built from the gcc-12-source, binutils-source,"
    echo "gmp, mpfr4 and mpclib3 packages above (Debian's upstream tarballs, not Debian's patches"
    echo "to GCC and binutils), linked statically."
    echo "Target files (headers, CRT, libgcc, libstdc++, winpthreads, runtime DLLs): copied from"
    echo "Debian's mingw-w64 packages above."
    echo
    echo "Sources: deb-src for each package on the Debian archive (apt-get source <name>=<version>)."
  } >"$R/SOURCES.txt"
}

run_stage fetch
run_stage gmp fetch
run_stage mpfr gmp
run_stage mpc mpfr
run_stage gcc mpc
run_stage binutils fetch
run_stage assemble gcc binutils

rm -rf "$out/toolchain.tmp" "$out/toolchain"
cp -a "$W/toolchain" "$out/toolchain.tmp"
touch "$out/complete.tmp"
mv "$out/toolchain.tmp" "$out/toolchain" && mv "$out/complete.tmp" "$out/complete"
say "toolchain ready: $(du -sh "$out/toolchain" | cut -f1) in $out/toolchain"
finish

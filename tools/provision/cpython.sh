# CPython built from Debian's python3.13 source package, for the checks that need a build Debian
# does not ship. Sourced after tools/lib.sh by tools/freethreaded_check.sh and tools/tsan_check.sh:
#   cpython_build_deps        installs, where missing, the Debian packages a
#                             CPython build needs (a C compiler, the headers of
#                             the modules pip relies on)
#   fetch_cpython_source WORK fetches Debian trixie's python3.13 source package
#                             into WORK (apt's lists and cache kept there too,
#                             the machine's own left alone) and unpacks it;
#                             sets $cpython_srcdir to the unpacked tree
#   build_free_threaded PREFIX
#                             CPython 3.13 configured --disable-gil, installed
#                             into PREFIX (the build beside it, then removed);
#                             PREFIX/.complete once whole
#   build_tsan_python PREFIX CC CXX
#                             the same with --with-thread-sanitizer as well,
#                             built by CC and CXX; PREFIX/.complete holds CC

cpython_build_deps() {
    apt_install gcc make xz-utils libssl-dev zlib1g-dev libffi-dev libbz2-dev liblzma-dev libsqlite3-dev
}

fetch_cpython_source() {
    local work=$1 archive
    mkdir -p "$work/apt/lists/partial" "$work/apt/cache/archives/partial" "$work/src"
    archive=$(debian_archive) || { echo "no Debian archive found in the apt sources" >&2; return 1; }
    echo "deb-src $archive trixie main" > "$work/apt/sources.list"
    local apt=(-o Dir::Etc::SourceList="$work/apt/sources.list" -o Dir::Etc::SourceParts=/dev/null
               -o Dir::State::Lists="$work/apt/lists" -o Dir::Cache="$work/apt/cache")
    echo "fetching the python3.13 source package"
    tavo_apt_get "${apt[@]}" update -q > "$work/apt.log" 2>&1 || { cat "$work/apt.log"; return 1; }
    (cd "$work/src" && tavo_apt_get "${apt[@]}" source --download-only python3.13) >> "$work/apt.log" 2>&1 ||
        { cat "$work/apt.log"; return 1; }
    tar -xf "$work"/src/python3.13_*.orig.tar.xz -C "$work/src"
    cpython_srcdir=$(ls -d "$work"/src/Python-3.13*/)
}

build_free_threaded() {  # prefix
    local prefix=$1 work
    work="$(dirname "$1")/build-3.13t"
    rm -rf "$work" "$prefix"
    mkdir -p "$work"
    cpython_build_deps || return 1
    fetch_cpython_source "$work" || return 1
    echo "building $(basename "$cpython_srcdir") with --disable-gil (log: $work/build.log)"
    (cd "$cpython_srcdir" && ./configure --disable-gil --prefix="$prefix" --without-ensurepip &&
        nice make -j"$(nproc)" && make install) > "$work/build.log" 2>&1 || { tail -40 "$work/build.log"; return 1; }
    rm -rf "$prefix"/lib/python3.13t/test  # the interpreter's own test suite is not needed
    touch "$prefix/.complete"
    rm -rf "$work"
}

build_tsan_python() {  # prefix cc cxx
    local prefix=$1 cc=$2 cxx=$3 work="$1.build"
    command -v "$cc" > /dev/null && command -v "$cxx" > /dev/null || { echo "$cc or $cxx not found" >&2; return 1; }
    rm -rf "$work" "$prefix"
    mkdir -p "$work/tsan"
    cpython_build_deps || return 1
    fetch_cpython_source "$work" || return 1
    echo "building $(basename "$cpython_srcdir") with --disable-gil --with-thread-sanitizer by $cc (log: $work/build.log)"
    # The build runs the new interpreter (byte code of the standard library, the
    # build's own scripts): what ThreadSanitizer says of it then goes to a log,
    # not into the exit status.
    (cd "$cpython_srcdir" &&
        CC=$cc CXX=$cxx ./configure --disable-gil --with-thread-sanitizer --prefix="$prefix" \
            --without-ensurepip --disable-test-modules &&
        TSAN_OPTIONS="exitcode=0:log_path=$work/tsan/build" nice make -j2 &&
        TSAN_OPTIONS="exitcode=0:log_path=$work/tsan/install" nice make install) > "$work/build.log" 2>&1 ||
        { tail -40 "$work/build.log"; return 1; }
    echo "$cc" > "$prefix/.complete"
    rm -rf "$work"
}

# Sourced by the tool scripts that build a CPython of their own
# (tools/freethreaded_check.sh, tools/tsan_check.sh), after tools/lib.sh:
#   cpython_build_deps        installs, where missing, the Debian packages a
#                             CPython build needs (a C compiler, the headers of
#                             the modules pip relies on)
#   fetch_cpython_source WORK fetches Debian trixie's python3.13 source package
#                             into WORK (apt's lists and cache kept there too,
#                             the machine's own left alone) and unpacks it;
#                             sets $cpython_srcdir to the unpacked tree

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

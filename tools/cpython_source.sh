# Sourced by the tool scripts that build a CPython of their own
# (tools/freethreaded_check.sh, tools/tsan_check.sh):
#   cpython_build_deps LOG    installs, where missing, the Debian packages a
#                             CPython build needs (a C compiler, the headers of
#                             the modules pip relies on); apt-get's output in LOG
#   fetch_cpython_source WORK fetches Debian trixie's python3.13 source package
#                             into WORK (apt's lists and cache kept there too,
#                             the machine's own left alone) and unpacks it;
#                             sets $cpython_srcdir to the unpacked tree

# apt-get, one package install at a time on this machine: CI's lanes go through
# .ci/bin/apt-get, which takes the lock itself (taking it twice would wait forever).
cpython_apt_get() {
    case $(command -v apt-get) in
        */.ci/bin/apt-get) apt-get "$@" ;;
        *) flock /tmp/tavo-ci-apt.lock apt-get "$@" ;;
    esac
}

# The Debian archive this machine already uses (read from its apt sources, so no
# mirror is written down here), asked for the source of a later release.
debian_archive() {
    local f
    for f in /etc/apt/sources.list.d/debian.sources /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -r "$f" ] || continue
        awk '/^URIs:/ { for (i = 2; i <= NF; i++) if ($i !~ /security/) { print $i; exit } }
             /^deb(-src)? / { for (i = 2; i <= NF; i++) if ($i ~ /^[a-z]+:\/\//) { if ($i !~ /security/) { print $i; exit } } }' "$f" |
            head -1 | grep . && return 0
    done
    return 1
}

cpython_build_deps() {
    local log=$1 need=() pkg
    for pkg in gcc make xz-utils libssl-dev zlib1g-dev libffi-dev libbz2-dev liblzma-dev libsqlite3-dev; do
        dpkg -s "$pkg" > /dev/null 2>&1 || need+=("$pkg")
    done
    [ ${#need[@]} -eq 0 ] && return 0
    cpython_apt_get update -q > "$log" 2>&1 || true
    DEBIAN_FRONTEND=noninteractive cpython_apt_get install -y -q --no-install-recommends "${need[@]}" >> "$log" 2>&1 ||
        { cat "$log"; return 1; }
}

fetch_cpython_source() {
    local work=$1 archive
    mkdir -p "$work/apt/lists/partial" "$work/apt/cache/archives/partial" "$work/src"
    archive=$(debian_archive) || { echo "no Debian archive found in the apt sources" >&2; return 1; }
    echo "deb-src $archive trixie main" > "$work/apt/sources.list"
    local apt=(-o Dir::Etc::SourceList="$work/apt/sources.list" -o Dir::Etc::SourceParts=/dev/null
               -o Dir::State::Lists="$work/apt/lists" -o Dir::Cache="$work/apt/cache")
    echo "fetching the python3.13 source package"
    apt-get "${apt[@]}" update -q > "$work/apt.log" 2>&1 || { cat "$work/apt.log"; return 1; }
    (cd "$work/src" && apt-get "${apt[@]}" source --download-only python3.13) >> "$work/apt.log" 2>&1 ||
        { cat "$work/apt.log"; return 1; }
    tar -xf "$work"/src/python3.13_*.orig.tar.xz -C "$work/src"
    cpython_srcdir=$(ls -d "$work"/src/Python-3.13*/)
}

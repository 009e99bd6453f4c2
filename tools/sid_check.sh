#!/usr/bin/env bash
# CPython 3.14 and 3.15 from Debian sid (unstable), the releases this machine's
# own Debian does not ship. Makes a sid root once with debootstrap (minbase:
# python3.14 and python3.15 with their -dev, -venv and -dbg packages, g++ and
# cmake; about 1.6 GB, kept in a cache folder like the other downloaded
# toolchains), then runs this checkout inside it (chroot, the checkout
# bind-mounted at /tavo, /proc bind-mounted; both mounts live in a mount
# namespace of their own, so they are gone when the script ends, however it ends):
#   suite     tools/run_tests.sh with each interpreter: a virtual environment,
#             `pip install .[test]`, the whole suite
#   leaks     tools/leak_check.sh with python3.14-dbg and python3.15-dbg: total
#             reference counts and blocks over the catalogue's calls, and the
#             allocation-failure sweep (tests/test_refleaks.py, tests/test_nomemory.py)
#   warnings  tools/warnings_check.sh with sid's GCC (-Werror and the stricter set)
#   root      only makes the root
# Usage: bash tools/sid_check.sh [suite|leaks|warnings|root|all] [pytest args for suite...]
#   (default all: suite, leaks, warnings)
#   TAVO_SID_PYTHONS="3.14 3.15"  which interpreters
#   TAVO_SID_ROOT=DIR             where the root is kept
#                                 (default ${XDG_CACHE_HOME:-~/.cache}/tavo/sid-root)
# Needs root (debootstrap, chroot, mount namespaces). A first run downloads about
# 300 MB of packages and takes about 3 minutes of wall time for the root.
set -u -o pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
. tools/lib.sh
checkout=$(pwd)
sid_root=${TAVO_SID_ROOT:-${XDG_CACHE_HOME:-$HOME/.cache}/tavo/sid-root}
sid_pythons=${TAVO_SID_PYTHONS:-3.14 3.15}

sid_versions="3.14 3.15"  # what the root holds; TAVO_SID_PYTHONS picks among them

python_packages() {  # version...
    local v
    for v in "$@"; do echo "python$v python$v-dev python$v-venv python$v-dbg"; done
}

make_root() {
    [ -f "$sid_root/.complete" ] && return 0
    apt_install debootstrap || return 1
    local archive start=$SECONDS partial="$sid_root.partial"
    archive=$(debian_archive) || { echo "no Debian archive found in the apt sources" >&2; return 1; }
    rm -rf "$partial"
    mkdir -p "$(dirname "$sid_root")"
    echo "--- sid: debootstrap into $sid_root (log: $sid_root.log)"
    local include
    include=$(echo g++ cmake ca-certificates $(python_packages $sid_versions) | tr ' ' ,)
    if ! debootstrap --variant=minbase --include="$include" sid "$partial" "$archive" > "$sid_root.log" 2>&1; then
        tail -30 "$sid_root.log"
        return 1
    fi
    rm -rf "$sid_root"
    mv "$partial" "$sid_root"
    mkdir -p "$sid_root/tavo"
    touch "$sid_root/.complete"
    echo "sid root made in $((SECONDS - start)) s ($(du -sh "$sid_root" | cut -f1))"
}

# A root made for fewer interpreters gets the missing ones from sid's archive.
complete_root() {
    local v missing=()
    for v in $sid_versions; do
        [ -x "$sid_root/usr/bin/python${v}d" ] || missing+=("$v")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "--- sid: adding CPython ${missing[*]} to the root"
    in_sid sh -c 'apt-get -o Acquire::Check-Valid-Until=false update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "$@"' \
        sh $(python_packages "${missing[@]}") > "$sid_root.log" 2>&1 || { tail -30 "$sid_root.log"; return 1; }
}

# One root for every step, made once even when CI's two lanes ask at once.
ensure_root() {
    mkdir -p "$(dirname "$sid_root")"
    { flock 8; make_root && complete_root; } 8> "$sid_root.lock"
}

# Runs a command in the root, in the checkout, as a fresh login would: pip goes
# through this machine's certificate bundle and resolver; the TAVO_* settings
# (examples, time limits) pass through.
in_sid() {
    cp /etc/resolv.conf "$sid_root/etc/resolv.conf"
    [ -r /etc/ssl/certs/ca-certificates.crt ] && cp /etc/ssl/certs/ca-certificates.crt "$sid_root/etc/ssl/certs/ca-certificates.crt"
    local pass=() var
    for var in $(compgen -e); do
        case $var in TAVO_SID_* | TAVO_PYTHONS | TAVO_TOOL_PYTHON) ;; TAVO_* | PYTHONWARNINGS | CI) pass+=("$var=${!var}") ;; esac
    done
    unshare --mount --propagation private -- /bin/sh -c '
        root=$1 checkout=$2; shift 2
        mount --bind /proc "$root/proc" && mount --rbind /dev "$root/dev" && mount --bind "$checkout" "$root/tavo" &&
        exec chroot "$root" /usr/bin/env -i "$@"' sh "$sid_root" "$checkout" \
        PATH=/usr/local/bin:/usr/bin:/bin HOME=/root LANG=C.UTF-8 TAVO_IN_SID=1 \
        PIP_CERT=/etc/ssl/certs/ca-certificates.crt PIP_ROOT_USER_ACTION=ignore "${pass[@]}" \
        /bin/sh -c 'cd /tavo && exec "$@"' sh "$@"
}

sid_suite() {
    local pythons=() v
    for v in $sid_pythons; do pythons+=("/usr/bin/python$v"); done
    in_sid env TAVO_PYTHONS="${pythons[*]}" bash tools/run_tests.sh "$@"
}

sid_leaks() {
    local v failed=0
    for v in $sid_pythons; do
        echo "=== leak check, CPython $v debug build"
        in_sid env TAVO_LEAK_PYTHON="/usr/bin/python${v}d" TAVO_LEAK_SUITE=0 bash tools/leak_check.sh || failed=1
    done
    return $failed
}

sid_warnings() {
    local v=${sid_pythons##* }
    echo "=== warnings build with $(in_sid g++ --version | head -1), CPython $v"
    in_sid bash -c '. tools/lib.sh && venv_with "build/sid-tools-$1" "/usr/bin/python$1" &&
        TAVO_TOOL_PYTHON="build/sid-tools-$1/bin/python" bash tools/warnings_check.sh' sh "$v"
}

# tools/run_tests.sh takes the functions above from here
[ "${1:-}" = --source-only ] && return 0

what=${1:-all}
[ $# -gt 0 ] && shift
start=$SECONDS
ensure_root || exit 1
status=0
case $what in
    root) ;;
    suite) sid_suite "$@" || status=1 ;;
    leaks) sid_leaks || status=1 ;;
    warnings) sid_warnings || status=1 ;;
    all)
        sid_suite || status=1
        sid_leaks || status=1
        sid_warnings || status=1
        ;;
    *) echo "unknown step $what (suite, leaks, warnings, root or all)" >&2; exit 2 ;;
esac
echo "sid check ($what): $((SECONDS - start)) s"
exit $status

#!/usr/bin/env bash
# CPython 3.14 and 3.15 from Debian sid (unstable), the releases this machine's
# own Debian does not ship. Runs this checkout inside the sid root that
# tools/provision/sid_root.sh makes once (debootstrap, minbase: python3.14 and
# python3.15 with their -dev, -venv and -dbg packages, g++ and cmake; about 1.6 GB,
# kept in a cache folder like the other downloaded toolchains):
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
. tools/provision/sid_root.sh
sid_pythons=${TAVO_SID_PYTHONS:-3.14 3.15}

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

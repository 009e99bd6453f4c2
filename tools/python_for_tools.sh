# Sourced by the tool scripts: the one place that finds CPython interpreters.
#   find_python X.Y        prints the first CPython X.Y with the interpreter lock
#                          (pyenv, /usr/local/bin, /usr/bin), or nothing
#   find_ft_python X.Y     the same for a free-threaded CPython X.Yt
#   is_free_threaded PY    true when PY runs and is a free-threaded build
#   supported_pythons      every supported CPython on the machine, one a minor
#                          version (3.11 and later), then the free-threaded ones
# and sets $tool_python, the CPython that builds packages and runs the checkers:
# TAVO_TOOL_PYTHON, else the oldest supported CPython found, so that what it
# builds installs everywhere it claims to.
tavo_versions="3.11 3.12 3.13 3.14 3.15"

find_python() {
    local cand
    for cand in "$HOME"/.pyenv/versions/"$1".*/bin/python3 /usr/local/bin/python"$1" /usr/bin/python"$1"; do
        case $cand in *t/bin/python3) continue ;; esac  # a free-threaded pyenv build
        if [ -x "$cand" ]; then echo "$cand"; return 0; fi
    done
    return 0
}

is_free_threaded() {
    [ -x "$1" ] && "$1" -c 'import sys, sysconfig; sys.exit(not sysconfig.get_config_var("Py_GIL_DISABLED"))' 2>/dev/null
}

find_ft_python() {
    local cand
    for cand in "$HOME"/.pyenv/versions/"$1".*t/bin/python"$1"t /usr/local/bin/python"$1"t /usr/bin/python"$1"t; do
        if is_free_threaded "$cand"; then echo "$cand"; return 0; fi
    done
    return 0
}

supported_pythons() {
    local v
    for v in $tavo_versions; do find_python "$v"; done
    for v in $tavo_versions; do
        case $v in 3.11 | 3.12) continue ;; esac  # free-threaded builds exist from 3.13 on
        find_ft_python "$v"
    done
}

tool_python=${TAVO_TOOL_PYTHON:-}
if [ -z "$tool_python" ]; then
    for tavo_v in $tavo_versions; do
        tool_python=$(find_python "$tavo_v")
        [ -n "$tool_python" ] && break
    done
    unset tavo_v
fi
if [ -z "$tool_python" ]; then
    echo "no CPython 3.11 or later found (set TAVO_TOOL_PYTHON)" >&2
    exit 1
fi

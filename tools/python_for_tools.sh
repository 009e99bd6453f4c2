# Sourced by the tool scripts: sets $tool_python to the CPython that builds
# packages and runs the checkers (TAVO_TOOL_PYTHON overrides; otherwise the
# oldest supported CPython found, so that what it builds installs everywhere
# it claims to).
tool_python=${TAVO_TOOL_PYTHON:-}
if [ -z "$tool_python" ]; then
    for cand in "$HOME"/.pyenv/versions/3.11.*/bin/python3 /usr/local/bin/python3.11 /usr/bin/python3.11 \
                "$HOME"/.pyenv/versions/3.12.*/bin/python3 /usr/bin/python3.12 \
                "$HOME"/.pyenv/versions/3.13.*/bin/python3 /usr/bin/python3.13; do
        if [ -x "$cand" ]; then tool_python=$cand; break; fi
    done
fi
if [ -z "$tool_python" ]; then
    echo "no CPython 3.11 or later found (set TAVO_TOOL_PYTHON)" >&2
    exit 1
fi

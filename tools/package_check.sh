#!/usr/bin/env bash
# Packaging check: builds the sdist and, from the unpacked sdist alone, the
# wheel (`python -m build`, as pip would build it on this machine); checks that
# auditwheel finds the wheel manylinux-compatible (whatever glibc floor the local
# compiler gives it; TAVO_WHEEL_FLOOR=2_28, say, requires that floor or older),
# tags it, installs the tagged wheel into a fresh virtual environment and runs
# the test suite of the unpacked sdist against it. The release wheels, whose floor
# is the point, are tools/release_wheels.sh's.
# Output: build/package-check/dist-local/ (sdist, wheel) and
#         build/package-check/wheelhouse/ (the wheel with its manylinux tag).
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/lib.sh

repo_tools=$(pwd)/tools
work=build/package-check
rm -rf "$work"
mkdir -p "$work"
work=$(cd "$work" && pwd)

echo "--- package check: tools ($("$tool_python" -c 'import sys; print(sys.version.split()[0])'))"
venv_with "$work/tools" "$tool_python" build
build_and_prove local "$work" "${TAVO_WHEEL_FLOOR:-any}" "$tool_python" \
    "$work/tools/bin/python" -m build -o "$work/dist-local" .
sdist=$(ls "$work"/dist-local/*.tar.gz)
wheel=$(ls "$work"/dist-local/*.whl)
echo "sdist: $(basename "$sdist")"

echo "--- package check: contents"
"$work/tools/bin/python" - "$sdist" "$wheel" <<'PY'
import sys, tarfile, zipfile
sdist, wheel = sys.argv[1:]
with tarfile.open(sdist) as t:
    top = t.getnames()[0].split("/")[0]
    names = {n.split("/", 1)[1] for n in t.getnames() if "/" in n}
need = ["pyproject.toml", "CMakeLists.txt", "LICENSE", "README.md", "PKG-INFO",
        "src/modules/tavo_module.cpp", "src/modules/tavo_exports.map", "stubs/_tavo-stubs/__init__.pyi",
        "src/modules/native_module.cpp", "src/modules/native_exports.map", "src/tavo/__init__.py",
        "tests/conftest.py", "tools/run_tests.sh", "tools/lib.sh",
        "docs/index.md", "docs/conf.py", "docs/_ext/tavo_reference.py", "docs/requirements.txt"]
missing = [n for n in need if n not in names]
with zipfile.ZipFile(wheel) as z:
    wnames = z.namelist()
for want in ("_tavo-stubs/__init__.pyi", "_tavo.cpython-", "tavo/__init__.py", "tavo/columns.py",
             "tavo/_frontends.py", "tavo/polars.py", "tavo/pandas.py", "tavo/duckdb.py",
             "tavo/py.typed", "tavo/_native.cpython-",
             "tavo/keys.py", "tavo/_native.pyi", "tavo/_adapters.py"):
    if not any(n.startswith(want) for n in wnames):
        missing.append("wheel: " + want)
if not any(n.endswith(".dist-info/licenses/LICENSE") for n in wnames):
    missing.append("wheel: LICENSE")
if missing:
    sys.exit("missing from the packages: " + ", ".join(missing))
print(f"sdist holds {len(names)} files, wheel {len(wnames)}: all needed files present")
PY

# `python -m build` made the wheel from the unpacked sdist, so this install
# also proves that the sdist's files alone build the module.
mkdir -p "$work/src"
tar -xzf "$sdist" -C "$work/src"
cd "$(ls -d "$work"/src/*/)"
# The same tests ran at their full example counts on this interpreter and compiler
# (tools/run_tests.sh); here they check the installed wheel and the sdist's tests, so
# the property tests run at a few examples each (TAVO_PACKAGE_EXAMPLES=0: their own counts).
examples=${TAVO_PACKAGE_EXAMPLES:-10}
plugin=()
[ "$examples" != 0 ] && plugin=(-p hypothesis_examples)
echo "--- package check: tests of the unpacked sdist against the installed wheel${plugin[*]:+ (property tests at most $examples examples)}"
TAVO_HYPOTHESIS_EXAMPLES=$examples PYTHONPATH="$repo_tools" \
    prove_in_venv "$proved_wheel" "$work/wheel-venv" "$tool_python" -m "not long" "${plugin[@]}"

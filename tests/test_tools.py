"""The scripts around the code: package installs take turns, and every path the documents and
scripts name is there.

CI runs two steps at a time and developers share the machine, so two package installs can start
at once; dpkg refuses the second. tools/apt.sh takes one lock around every apt-get, whether a
tool calls it (tools/lib.sh's apt_install) or anything else does on CI's PATH (.ci/bin/apt-get).
The test stands a recording apt-get behind both and starts them together.
"""
import os
import pathlib
import re
import shutil
import signal
import subprocess

import pytest

from models import text as text_model

REPO = pathlib.Path(text_model.REPO)
APT_SH = REPO / "tools" / "apt.sh"
CI_APT = REPO / ".ci" / "bin" / "apt-get"

needs_scripts = pytest.mark.skipif(
    not (APT_SH.exists() and CI_APT.exists() and shutil.which("bash") and shutil.which("flock")),
    reason="tools/ and .ci/ are not beside the tests, or bash and flock are missing")

# An apt-get that records when each run starts and ends, and fails with 3 when asked to.
FAKE_APT = """#!/bin/sh
echo "start $$ $*" >> "$FAKE_APT_LOG"
sleep 0.3
echo "end $$ $*" >> "$FAKE_APT_LOG"
case " $* " in *" fail "*) exit 3 ;; esac
exit 0
"""


def runs_of(log):
    """The runs in the log, in order; fails if one started before the one before it ended."""
    runs, open_run = [], None
    for line in log.read_text().splitlines():
        what, pid, args = (line.split(" ", 2) + [""])[:3]
        if what == "start":
            assert open_run is None, f"{args!r} started while {open_run[1]!r} was running:\n{log.read_text()}"
            open_run = (pid, args)
        else:
            assert open_run is not None and open_run[0] == pid, log.read_text()
            runs.append(open_run[1])
            open_run = None
    assert open_run is None, log.read_text()
    return runs


@needs_scripts
@pytest.mark.thread_unsafe(reason="starts processes that share a lock file: threads would only add time")
def test_package_installs_take_turns(tmp_path):
    fake_dir = tmp_path / "bin"
    fake_dir.mkdir()
    fake = fake_dir / "apt-get"
    fake.write_text(FAKE_APT)
    fake.chmod(0o755)
    log = tmp_path / "apt.log"
    env = dict(os.environ, FAKE_APT_LOG=str(log), TAVO_APT_LOCK=str(tmp_path / "apt.lock"))
    plain = f"{fake_dir}:{env['PATH']}"
    ci = f"{CI_APT.parent}:{plain}"
    source = f". {APT_SH}; "
    starters = {
        # a CI lane: any program's apt-get, through CI's PATH
        "ci install lane-a": (["apt-get", "install", "lane-a"], ci),
        # a tool in the other lane, CI's apt-get first on its PATH too (it must not lock twice)
        "tool in CI": (["bash", "-c", source + 'apt_install tavo-no-such-package-b'], ci),
        # a developer's tool outside CI
        "tool": (["bash", "-c", source + 'tavo_apt_get install tool-c'], plain),
        "ci failing": (["apt-get", "install", "fail"], ci),
    }
    # each in a session of its own, so that a lock taken twice (a wait forever) fails the test
    # and leaves no process behind
    procs = {name: subprocess.Popen(argv, env=dict(env, PATH=path), stdout=subprocess.PIPE,
                                    stderr=subprocess.STDOUT, text=True, start_new_session=True)
             for name, (argv, path) in starters.items()}
    status = {}
    try:
        for name, proc in procs.items():
            out, _ = proc.communicate(timeout=60)
            status[name] = (proc.returncode, out)
    finally:
        for proc in procs.values():
            if proc.poll() is None:
                os.killpg(proc.pid, signal.SIGKILL)
                proc.wait()
    assert {name: code for name, (code, _) in status.items()} == {
        "ci install lane-a": 0, "tool in CI": 0, "tool": 0, "ci failing": 3}, status
    runs = runs_of(log)
    # each apt-get reached the real one exactly once (apt_install updates, then installs)
    assert sorted(runs) == sorted([
        "install lane-a", "update -q", "install -y -q --no-install-recommends tavo-no-such-package-b",
        "install tool-c", "install fail"])


# Where a path is named: the documents, CI, the scripts, the tests and the build.
NAMING_FILES = ["README.md", "CONTRIBUTING.md", "pyproject.toml", "CMakeLists.txt", ".ci/run", ".ci/bin/apt-get"]
NAMING_GLOBS = ["tools/**/*.sh", "tools/**/*.py", "tools/**/*.cmake", "tools/**/c++", "tests/**/*.py",
                "bench/**/*.py", "fuzz/**/*.py"]
# tools/... not preceded by a path of its own (a venv's "$work/tools/bin" is not the folder)
TOOLS_PATH = re.compile(r"(?<![\w/.$-])tools/[\w./*+-]*[\w*+]")


def named_tool_paths():
    files = [REPO / f for f in NAMING_FILES if (REPO / f).exists()]
    for pattern in NAMING_GLOBS:
        files += [p for p in REPO.glob(pattern) if "ucd" not in p.parts]
    named = set()
    for f in files:
        for m in TOOLS_PATH.finditer(f.read_text(encoding="utf-8", errors="replace")):
            named.add((m.group(0), f.relative_to(REPO).as_posix()))
    return named


@pytest.mark.skipif(not (REPO / "tools").is_dir() or not (REPO / ".ci").is_dir(),
                    reason="tools/ and .ci/ are not beside the tests")
def test_every_named_tool_path_is_there():
    named = named_tool_paths()
    assert len(named) > 50  # the pattern finds what it should
    missing = sorted((path, where) for path, where in named
                     if not (list(REPO.glob(path)) if "*" in path else (REPO / path).exists()))
    assert missing == []


@pytest.mark.skipif(not (REPO / "tools").is_dir() or not (REPO / "CONTRIBUTING.md").exists(),
                    reason="tools/ and CONTRIBUTING.md are not beside the tests")
def test_the_map_names_every_check_and_tools_folder():
    # CONTRIBUTING.md's table is how a developer finds a check: every script under tools/ that is
    # run (it has a #! line) is named there, and every folder under tools/.
    text = (REPO / "CONTRIBUTING.md").read_text(encoding="utf-8")
    scripts = sorted(p.relative_to(REPO).as_posix() for p in (REPO / "tools").glob("*.sh")
                     if p.read_text(encoding="utf-8").startswith("#!"))
    # (not what Python leaves behind: tools/ is on the path of the runs that load its plugins)
    folders = sorted(p.relative_to(REPO).as_posix() + "/" for p in (REPO / "tools").iterdir()
                     if p.is_dir() and p.name != "__pycache__")
    assert [s for s in scripts + folders if s not in text] == []

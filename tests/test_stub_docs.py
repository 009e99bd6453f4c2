"""The stubs of the compiled modules carry their docstrings (a language server shows a
compiled function's docstring only from its stub), the very texts the modules give."""
import os
import subprocess
import sys

import pytest

from models import text as text_model

GENERATOR = os.path.join(text_model.REPO, "tools", "gen_stub_docs.py")


@pytest.mark.skipif(not os.path.exists(GENERATOR), reason="tools/ is not beside the tests")
@pytest.mark.thread_unsafe(reason="starts an interpreter of its own: threads would only add time")
def test_stubs_carry_the_runtime_docstrings():
    out = subprocess.run([sys.executable, GENERATOR, "--check"], capture_output=True, text=True)
    assert out.returncode == 0, out.stdout + out.stderr + "\nrun tools/gen_stub_docs.py to write them"

"""Coverage-guided fuzz target (atheris, libFuzzer) over every function of the catalogue.

Each input picks a function's fuzz target (tests/catalogue/, FUZZ) and the target builds
the function's arguments from the fuzzer's bytes (tests/fuzz_kit.py): texts from nasty
palettes, rows of dictionaries with mixed values, nested lists and tuples, Arrow columns.
Results are compared with the pure-Python models of tests/models where the inputs are
ones the model defines an exact answer for, and with invariants otherwise.
A crash, a sanitizer report or a mismatch stops the fuzzer with the input saved.

Run through tools/fuzz_check.sh, which builds the module with coverage and
AddressSanitizer instrumentation and preloads the runtime.
"""
import os
import sys

import atheris

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "tests"))

import catalogue  # noqa: E402

NAMES = catalogue.FUNCTIONS
TARGETS = [catalogue.FUZZ[n] for n in NAMES]


def test_one_input(data):
    fdp = atheris.FuzzedDataProvider(data)
    TARGETS[fdp.ConsumeIntInRange(0, len(TARGETS) - 1)](fdp)


def main():
    print("fuzzing:", ", ".join(NAMES), flush=True)
    atheris.Setup(sys.argv, test_one_input)
    atheris.Fuzz()


if __name__ == "__main__":
    main()

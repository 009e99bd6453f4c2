"""pytest plugin for the sanitizer run: a leak check while the interpreter is whole.

At the end of the session every object the interpreter still uses is reachable
from its own state, so LeakSanitizer reports only blocks that nothing points to
any more: real leaks. The report goes where ASAN_OPTIONS' log_path says;
tools/lsan_filter.py reads it.
"""
import ctypes
import gc


def pytest_unconfigure(config):
    try:
        check = ctypes.CDLL(None).__lsan_do_recoverable_leak_check
    except AttributeError:  # not running under LeakSanitizer
        return
    check.restype = ctypes.c_int
    for _ in range(3):
        gc.collect()
    print("\n=== in-process leak check:", "leaks reported" if check() else "no leaks")

"""Hostile objects and helpers shared by the reliability tests.

Objects here misbehave in the ways Python code can: dunder methods that raise,
answer with odd types or NotImplemented, mutate the list being processed, or
raise the module's own PanicException. Spies record every dunder call so a test
can show that the module never called them.
"""
import copy
import functools
import gc
import signal
import sys
import threading
import time

try:
    import pytest
except ImportError:  # the fuzzer and the bench read the catalogue, which uses this kit, without pytest
    pytest = None

import _tavo


class Boom(Exception):
    """The exception hostile methods raise."""


# --- PanicException --------------------------------------------------------


def _panic_from_multikeysort():
    items = []

    class Clears:
        def __lt__(self, other):
            items.clear()
            return False

        __gt__ = __lt__

    items.extend([{"k": Clears()}, {"k": Clears()}, {"k": Clears()}])
    _tavo.multikeysort(items, "k")


@functools.lru_cache(maxsize=None)
def panic_type():
    """The module's PanicException type.

    The type is not reachable from the module; it is obtained from an exception
    that a call ends with: multikeysort ends in an internal failure when the
    list is emptied while it sorts.
    """
    try:
        _panic_from_multikeysort()
    except BaseException as e:  # noqa: BLE001 - that is the point
        t = type(e)
        assert t.__name__ == "PanicException" and t.__module__ == "lumo_runtime", repr(e)
        return t
    raise AssertionError("multikeysort on a list emptied while it sorts did not fail")


def is_panic(exc, text=None):
    t = type(exc)
    ok = t.__name__ == "PanicException" and t.__module__ == "lumo_runtime" and issubclass(t, BaseException)
    ok = ok and not isinstance(exc, Exception)
    if text is not None:
        ok = ok and str(exc) == text
    return ok


# --- spies -------------------------------------------------------------------

SPIED = (
    "__eq__", "__ne__", "__lt__", "__le__", "__gt__", "__ge__", "__hash__", "__bool__", "__len__",
    "__iter__", "__getitem__", "__contains__", "__str__", "__repr__", "__index__", "__int__",
    "__float__", "__add__", "__format__", "keys", "items", "values", "get", "__reversed__",
)


class Calls(list):
    """Names of the spied methods called so far."""


def spy_class(base, calls, hashable=True):
    """A subclass of `base` whose spied methods record their name in `calls`
    and raise Boom. With `hashable`, hashing is left to `base` (unrecorded) so
    that instances can be dictionary keys."""

    def make(name):
        def method(self, *args, **kwargs):
            calls.append(name)
            raise Boom(name)

        return method

    ns = {name: make(name) for name in SPIED}
    if hashable:
        ns["__hash__"] = base.__hash__
    return type("Spy" + base.__name__.capitalize(), (base,), ns)


def hostile_str(text, calls=None):
    """A str subclass holding `text` whose every method raises Boom."""
    calls = Calls() if calls is None else calls
    return spy_class(str, calls)(text), calls


# --- objects whose dunders misbehave -----------------------------------------


class Raising:
    """Every comparison, conversion and truth test raises Boom."""

    def _boom(self, *a):
        raise Boom("hostile")

    __eq__ = __ne__ = __lt__ = __le__ = __gt__ = __ge__ = _boom
    __bool__ = __index__ = __float__ = __int__ = __str__ = __len__ = _boom
    __hash__ = object.__hash__


class BadBool:
    """Truth test raises Boom."""

    def __bool__(self):
        raise Boom("bool")


class BoolReturnsInt:
    """Truth test returns an int, which the interpreter refuses with TypeError."""

    def __bool__(self):
        return 2


class NotImplementedCmp:
    """Every rich comparison answers NotImplemented."""

    def _ni(self, other):
        return NotImplemented

    __eq__ = __ne__ = __lt__ = __le__ = __gt__ = __ge__ = _ni
    __hash__ = object.__hash__


class Answers:
    """Comparisons answer a fixed object (of any type)."""

    def __init__(self, answer):
        self.answer = answer

    def _cmp(self, other):
        return self.answer

    __eq__ = __ne__ = __lt__ = __le__ = __gt__ = __ge__ = _cmp
    __hash__ = object.__hash__


class Mutating:
    """Comparisons run `action()` (which mutates something) and answer `answer`."""

    def __init__(self, action, answer=False):
        self.action = action
        self.answer = answer

    def _cmp(self, other):
        self.action()
        return self.answer

    __eq__ = __ne__ = __lt__ = __le__ = __gt__ = __ge__ = _cmp
    __hash__ = object.__hash__


class RaisesPanic:
    """Comparisons, truth test and conversions raise the module's PanicException."""

    def __init__(self, text="hostile panic"):
        self.text = text

    def _panic(self, *a):
        raise panic_type()(self.text)

    __eq__ = __ne__ = __lt__ = __le__ = __gt__ = __ge__ = _panic
    __bool__ = __index__ = __float__ = _panic
    __hash__ = object.__hash__


class PanicCmp:
    """Only the rich comparisons raise the module's PanicException."""

    def __init__(self, text="hostile panic"):
        self.text = text

    def _panic(self, other):
        raise panic_type()(self.text)

    __eq__ = __ne__ = __lt__ = __le__ = __gt__ = __ge__ = _panic
    __hash__ = object.__hash__


def _fresh(exc):
    """A new exception like `exc`: raising one instance again and again would
    chain a traceback entry (holding the raising frame) onto it each time."""
    return type(exc)(*exc.args)


class Index:
    """An integer-like object: __index__ answers `value` (or raises a copy of it)."""

    def __init__(self, value):
        self.value = value

    def __index__(self):
        if isinstance(self.value, BaseException):
            raise _fresh(self.value)
        return self.value


class Float:
    """A float-like object: __float__ answers `value` (or raises a copy of it)."""

    def __init__(self, value):
        self.value = value

    def __float__(self):
        if isinstance(self.value, BaseException):
            raise _fresh(self.value)
        return self.value


class Text(str):
    """A str subclass whose str() says something else: the module reads a str
    argument's characters, never its str()."""

    def __str__(self):
        return "999"


class ListSub(list):
    """A plain list subclass."""


class TupleSub(tuple):
    """A plain tuple subclass."""


class DistinctKey(str):
    """Same text as a plain key but a different dict key: both land on one
    key text in backfill_iterdict."""

    def __eq__(self, other):
        return type(other) is DistinctKey and str.__eq__(self, other)

    def __hash__(self):
        return hash(("distinct", str(self)))


class Getter:
    """A non-dict item: __getitem__ runs `fn(key)`."""

    def __init__(self, fn):
        self.fn = fn

    def __getitem__(self, key):
        return self.fn(key)


class Missing(dict):
    """A dict subclass whose __missing__ runs `fn(key)`."""

    def __init__(self, fn, *args, **kwargs):
        super().__init__(*args, **kwargs)
        self.fn = fn

    def __missing__(self, key):
        return self.fn(key)


def raise_(exc):
    raise exc


def numpy_like_bool(name="bool_", bool_method=None, module="numpy"):
    """A class that claims to be NumPy's boolean scalar type."""
    ns = {"__module__": module}
    if bool_method is not None:
        ns["__bool__"] = bool_method
    return type(name, (), ns)


class UnprintableArg:
    def __str__(self):
        raise Boom("str")

    __repr__ = __str__


class Sink:
    """A file-like object that drops what it is given (stands in for stderr)."""

    def write(self, s):
        return len(s)

    def flush(self):
        pass


# C callables that drop what they are given, standing in for sys.excepthook
# and sys.unraisablehook: on CPython 3.14 and 3.15 debug builds the default
# hooks' Python code (printing a traceback) moves the total reference count
# by itself.
C_HOOKS = {"excepthook": slice, "unraisablehook": id}


class c_hooks:
    """Sets the hooks to C_HOOKS, and back on leaving."""

    def __enter__(self):
        self._saved = {name: getattr(sys, name) for name in C_HOOKS}
        for name, hook in C_HOOKS.items():
            setattr(sys, name, hook)
        return self

    def __exit__(self, *exc):
        for name, hook in self._saved.items():
            setattr(sys, name, hook)
        return False


class quiet(c_hooks):
    """Sends sys.stderr, the exception and unraisable hooks (c_hooks) and
    file descriptor 2 nowhere."""

    def __enter__(self):
        import os

        super().__enter__()
        self._stderr = sys.stderr
        sys.stderr = Sink()
        sys.__stderr__.flush() if sys.__stderr__ else None
        self._fd = os.dup(2)
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, 2)
        os.close(devnull)
        return self

    def __exit__(self, *exc):
        import os

        os.dup2(self._fd, 2)
        os.close(self._fd)
        sys.stderr = self._stderr
        return super().__exit__()


# --- collections and finalizers in the middle of a call ------------------------------


class collections_run:
    """Every allocation may start a collection (threshold 1), and the
    collection numbered `at` (counted from entry) runs `action()` from a
    gc callback. On interpreters that collect during allocations, the module's
    own allocations run it in the middle of a call. `fired` tells whether it ran."""

    def __init__(self, action, at=1):
        self.action = action
        self.at = at
        self.count = 0
        self.fired = False

    def _callback(self, phase, info):
        if phase == "start":
            self.count += 1
            if self.count == self.at and not self.fired:
                self.fired = True
                self.action()

    def __enter__(self):
        import gc

        self._old = gc.get_threshold()
        gc.callbacks.append(self._callback)
        gc.set_threshold(1)
        return self

    def __exit__(self, *exc):
        import gc

        gc.set_threshold(*self._old)
        gc.callbacks.remove(self._callback)
        return False


class Finalized:
    """Runs `action()` when the object is freed."""

    def __init__(self, action):
        self.action = action

    def __del__(self):
        self.action()


def finalized_str(text, action):
    """A str subclass instance holding `text` whose finalizer runs `action()`."""

    class FinalizedStr(str):
        def __del__(self):
            action()

    return FinalizedStr(text)


class SlowEq:
    """Equality that runs Python code for a while (interrupt tests): equal to
    objects with the same `v`."""

    def __init__(self, v, spin=200):
        self.v = v
        self.spin = spin

    def __eq__(self, other):
        for _ in range(self.spin):
            pass
        return isinstance(other, SlowEq) and other.v == self.v

    __hash__ = object.__hash__


class SlowStr(str):
    """A str subclass whose hashing and equality are slow Python code; the
    module reads its text and never calls them."""

    def __hash__(self):
        for _ in range(200):
            pass
        return str.__hash__(self)

    def __eq__(self, other):
        for _ in range(200):
            pass
        return str.__eq__(self, other)


# --- interrupts during long calls that run Python code ----------------------------------

main_thread_only = pytest and pytest.mark.skipif(threading.current_thread() is not threading.main_thread(),
                                                 reason="signals reach the main thread only")


def interrupted(call, inputs, seconds=0.05, budget=20.0):
    """Runs `call()` again and again until SIGALRM's handler raises
    KeyboardInterrupt; the inputs must come out unchanged."""
    snapshot = copy.copy(inputs)
    old = signal.signal(signal.SIGALRM, signal.default_int_handler)
    # A signal whose handler runs inside a gc callback or a finalizer is lost
    # to the interpreter (it reports the exception as unraisable), whatever the
    # module does: no collections while the timer runs.
    was_enabled = gc.isenabled()
    gc.disable()
    calls = 0
    try:
        signal.setitimer(signal.ITIMER_REAL, seconds)
        with pytest.raises(KeyboardInterrupt):
            deadline = time.monotonic() + budget
            while time.monotonic() < deadline:
                call()
                calls += 1
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, old)
        if was_enabled:
            gc.enable()
    assert inputs == snapshot
    return calls


def same_under_collections(f, arg):
    """A text function gives the same result while collections run finalizers
    that free other copies of its argument."""
    expected = f(arg)
    holder = [finalized_str(arg, lambda: None) for _ in range(20)]
    sub = finalized_str(arg, holder.clear)
    for at in (1, 2, 3):
        with collections_run(holder.clear, at):
            assert f(arg) == expected
            assert f(sub) == expected


# --- running out of address space ---------------------------------------------------------


def address_space_sweep(call, megabytes=(1, 2, 4, 8, 16, 32, 64, 128, 256)):
    """Runs `call()` with the address space limited to what the process uses now and
    `megabytes` more, each in turn, and prints what the calls ended with: "MemoryError ok"
    when every call either succeeded or raised MemoryError, else "WRONG" and the first other
    exception, or "unbound" when the limit binds nothing here. For a child process (tests run it with `python -c`): the limit is the whole
    process's."""
    import ctypes
    import mmap
    import re
    import resource

    gc.collect()
    ctypes.CDLL(None).malloc_trim(0)  # the heap's free room back to the system: results need new room
    soft, hard = resource.getrlimit(resource.RLIMIT_AS)
    with open("/proc/self/status") as f:
        used = int(re.search(r"VmSize:\s+(\d+) kB", f.read()).group(1)) * 1024
    # Under user-mode emulation (qemu) the limit binds the emulator, which has reserved the
    # program's address space ahead: nothing is refused, and the sweep would prove nothing.
    resource.setrlimit(resource.RLIMIT_AS, (used + 2**20, hard))
    try:
        mmap.mmap(-1, 256 << 20).close()
        bound = False
    except OSError:
        bound = True
    finally:
        resource.setrlimit(resource.RLIMIT_AS, (soft, hard))
    if not bound:
        print("unbound")
        return
    seen = set()
    for mb in megabytes:
        resource.setrlimit(resource.RLIMIT_AS, (used + mb * 2**20, hard))
        try:
            out = call()
            del out
            seen.add("ok")
        except MemoryError:
            seen.add("MemoryError")
        except BaseException as e:  # noqa: BLE001 - anything else is the fault looked for
            resource.setrlimit(resource.RLIMIT_AS, (soft, hard))
            print("WRONG", mb, type(e).__module__ + "." + type(e).__name__ + ": " + str(e))
            return
        finally:
            resource.setrlimit(resource.RLIMIT_AS, (soft, hard))
    print(" ".join(sorted(seen)))


def check_sweep_output(out):
    """The verdict on a child's `address_space_sweep`: skips the test where the limit bound
    nothing, else both outcomes seen and nothing printed as failed."""
    import pytest

    assert out.returncode == 0, out.stderr[-2000:]
    if out.stdout.split() == ["unbound"]:
        pytest.skip("the address-space limit binds nothing here (user-mode emulation)")
    assert out.stdout.split() == ["MemoryError", "ok"], out.stdout + out.stderr[-2000:]
    assert "Traceback" not in out.stderr and "failed at" not in out.stderr, out.stderr[-2000:]

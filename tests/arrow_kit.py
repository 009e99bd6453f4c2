"""Arrow data through the C Data and C Stream Interfaces, made and read with ctypes alone.

`Producer` hands any arrays, malformed ones included, to a consumer through
`__arrow_c_array__` or `__arrow_c_stream__`, counts every release callback the
consumer makes and keeps a copy of its buffers to show they were not written.
`read_column` reads what a producer (a tavo Column) exports, without pyarrow.
"""
import ctypes
import struct
import threading
from ctypes import CFUNCTYPE, POINTER, Structure, byref, c_char_p, c_int, c_int64, c_void_p, py_object

EIO = 5


class ArrowSchema(Structure):
    pass


class ArrowArray(Structure):
    pass


class ArrowArrayStream(Structure):
    pass


SchemaRelease = CFUNCTYPE(None, POINTER(ArrowSchema))
ArrayRelease = CFUNCTYPE(None, POINTER(ArrowArray))
GetSchema = CFUNCTYPE(c_int, POINTER(ArrowArrayStream), POINTER(ArrowSchema))
GetNext = CFUNCTYPE(c_int, POINTER(ArrowArrayStream), POINTER(ArrowArray))
GetLastError = CFUNCTYPE(c_void_p, POINTER(ArrowArrayStream))
StreamRelease = CFUNCTYPE(None, POINTER(ArrowArrayStream))

ArrowSchema._fields_ = [
    ("format", c_char_p), ("name", c_char_p), ("metadata", c_char_p), ("flags", c_int64),
    ("n_children", c_int64), ("children", c_void_p), ("dictionary", c_void_p),
    ("release", SchemaRelease), ("private_data", c_void_p),
]
ArrowArray._fields_ = [
    ("length", c_int64), ("null_count", c_int64), ("offset", c_int64), ("n_buffers", c_int64),
    ("n_children", c_int64), ("buffers", POINTER(c_void_p)), ("children", c_void_p),
    ("dictionary", c_void_p), ("release", ArrayRelease), ("private_data", c_void_p),
]
ArrowArrayStream._fields_ = [
    ("get_schema", GetSchema), ("get_next", GetNext), ("get_last_error", GetLastError),
    ("release", StreamRelease), ("private_data", c_void_p),
]

_new_capsule = ctypes.pythonapi.PyCapsule_New
_new_capsule.restype = py_object
_new_capsule.argtypes = [c_void_p, c_char_p, c_void_p]
_capsule_pointer = ctypes.pythonapi.PyCapsule_GetPointer
_capsule_pointer.restype = c_void_p
_capsule_pointer.argtypes = [py_object, c_char_p]

# Capsule names live as long as the module: a capsule keeps only the pointer.
SCHEMA_NAME, ARRAY_NAME, STREAM_NAME = b"arrow_schema", b"arrow_array", b"arrow_array_stream"


def capsule(obj, name):
    return _new_capsule(ctypes.addressof(obj), name, None)


# --- buffers of the three string layouts ------------------------------------------------


def validity_bits(valid):
    bits = bytearray((len(valid) + 7) // 8)
    for i, v in enumerate(valid):
        if v:
            bits[i >> 3] |= 1 << (i & 7)
    return bytes(bits)


class Chunk:
    """One array: its Arrow format, length, offset, null count and buffers (bytes or None)."""

    def __init__(self, fmt, length, buffers, offset=0, null_count=0):
        self.fmt, self.length, self.offset, self.null_count = fmt, length, offset, null_count
        self.buffers = list(buffers)

    @classmethod
    def strings(cls, values, fmt="u", offset=0, view_buffer_size=64):
        """`values` (str, bytes or None) in layout `fmt`; the first `offset` of them are
        outside the array (a slice)."""
        raw = [v.encode() if isinstance(v, str) else v for v in values]
        valid = [v is not None for v in raw]
        nulls = valid[offset:].count(False)
        bits = validity_bits(valid) if nulls else None
        if fmt in ("u", "U"):
            code = "<i" if fmt == "u" else "<q"
            offsets, data = [0], bytearray()
            for v in raw:
                data += v or b""
                offsets.append(len(data))
            buf = b"".join(struct.pack(code, o) for o in offsets)
            return cls(fmt, len(raw) - offset, [bits, buf, bytes(data)], offset, nulls)
        views, data_buffers = bytearray(), [bytearray()]
        for v in raw:
            v = v or b""
            if len(v) <= 12:
                views += struct.pack("<i12s", len(v), v)
                continue
            if len(data_buffers[-1]) + len(v) > view_buffer_size and data_buffers[-1]:
                data_buffers.append(bytearray())
            views += struct.pack("<i4sii", len(v), v[:4], len(data_buffers) - 1, len(data_buffers[-1]))
            data_buffers[-1] += v
        sizes = b"".join(struct.pack("<q", len(b)) for b in data_buffers)
        return cls("vu", len(raw) - offset, [bits, bytes(views), *map(bytes, data_buffers), sizes], offset, nulls)


def utf8_chunk(offsets, data, valid=None, fmt="u", offset=0, length=None):
    """A utf8 or large_utf8 array with the very offsets given (malformed ones too)."""
    code = "<i" if fmt == "u" else "<q"
    n = len(offsets) - 1 - offset if length is None else length
    bits = validity_bits(valid) if valid is not None else None
    nulls = valid[offset:offset + n].count(False) if valid is not None else 0
    return Chunk(fmt, n, [bits, b"".join(struct.pack(code, o) for o in offsets), data], offset, nulls)


def view(size, data=b"", buffer_index=0, offset=0):
    """One 16-byte string_view: inline when `size` <= 12, else naming a data buffer."""
    if 0 <= size <= 12:
        return struct.pack("<i12s", size, data)
    return struct.pack("<i4sii", size, data[:4], buffer_index, offset)


def view_chunk(views, data_buffers, valid=None, sizes=None):
    bits = validity_bits(valid) if valid is not None else None
    nulls = valid.count(False) if valid is not None else 0
    sizes = [len(b) for b in data_buffers] if sizes is None else sizes
    size_buf = b"".join(struct.pack("<q", s) for s in sizes)
    return Chunk("vu", len(views), [bits, b"".join(views), *data_buffers, size_buf], 0, nulls)


class GuardedBytes:
    """`data` placed so that its last byte lies right before a page that cannot be read:
    a consumer that reads one byte past it stops the process. Quacks like the ctypes
    buffers a Producer hands over (`addressof`, `.raw`)."""

    def __init__(self, data):
        import mmap
        page = mmap.PAGESIZE
        body = (len(data) + page - 1) // page * page or page
        self._map = mmap.mmap(-1, body + page)
        base = ctypes.addressof(ctypes.c_char.from_buffer(self._map))
        libc = ctypes.CDLL(None, use_errno=True)
        libc.mprotect.argtypes = [c_void_p, ctypes.c_size_t, c_int]
        if libc.mprotect(base + body, page, 0) != 0:  # PROT_NONE
            raise OSError(ctypes.get_errno(), "mprotect")
        self.buffer = (ctypes.c_char * len(data)).from_address(base + body - len(data))
        self.buffer.raw = data

    @property
    def raw(self):
        return self.buffer.raw


# --- the producer ----------------------------------------------------------------------


def _guarded(chunk, k):
    """Whether buffer k of the chunk holds text a kernel reads (the sizes buffer of a
    string_view array is read as a whole)."""
    if chunk.fmt in ("u", "U"):
        return k == 2
    return chunk.fmt == "vu" and 1 <= k < len(chunk.buffers) - 1


class Producer:
    """Exports `chunks` of Arrow format `fmt` through the PyCapsule interface: as a stream
    (any number of chunks) or as one array (the first chunk). `fail_at`: get_next fails
    (EIO) when asked for that chunk; `dictionary`: the schema says dictionary-encoded."""

    def __init__(self, fmt, chunks, fail_at=None, dictionary=False, guard_data=False):
        self.fmt, self.chunks, self.fail_at = fmt.encode(), list(chunks), fail_at
        self.dictionary = ArrowSchema(b"u", b"", None, 2, 0, None, None, SchemaRelease(), None) if dictionary else None
        self.released = {"schema": 0, "array": 0, "stream": 0}
        self.handed = {"schema": 0, "array": 0, "stream": 0}
        self._keep = []
        self._error = ctypes.create_string_buffer(b"the disk is on fire")
        self._release_schema = SchemaRelease(self._on_release_schema)
        self._release_array = ArrayRelease(self._on_release_array)
        self._release_stream = StreamRelease(self._on_release_stream)
        self._get_schema = GetSchema(self._on_get_schema)
        self._get_next = GetNext(self._on_get_next)
        self._get_last_error = GetLastError(lambda s: ctypes.addressof(self._error))
        self._next = 0
        self.snapshots = [[None if b is None else bytes(b) for b in c.buffers] for c in self.chunks]
        self.structs = []  # every struct handed over, as the producer filled it
        # the memory the consumer reads, made before any call: per chunk, its buffers
        # (`guard_data`: each utf8 data buffer, and each string_view's views and data buffers,
        # end right before an unreadable page)
        self.live_buffers = [[None if b is None else
                              GuardedBytes(b) if guard_data and _guarded(c, k) else
                              ctypes.create_string_buffer(b, len(b)) for k, b in enumerate(c.buffers)]
                             for c in self.chunks]

    def _on_release_schema(self, p):
        self.released["schema"] += 1
        p[0].release = SchemaRelease()

    def _on_release_array(self, p):
        self.released["array"] += 1
        p[0].release = ArrayRelease()

    def _on_release_stream(self, p):
        self.released["stream"] += 1
        p[0].release = StreamRelease()

    def _fill_schema(self, s):
        s.format, s.name, s.metadata, s.flags, s.n_children = self.fmt, b"", None, 2, 0
        s.children = None
        s.dictionary = ctypes.addressof(self.dictionary) if self.dictionary is not None else None
        s.release, s.private_data = self._release_schema, None
        self.handed["schema"] += 1

    def _fill_array(self, a, index):
        chunk, bufs = self.chunks[index], self.live_buffers[index]
        ptrs = (c_void_p * len(bufs))(*[None if b is None else
                                        ctypes.addressof(b.buffer if isinstance(b, GuardedBytes) else b)
                                        for b in bufs])
        self._keep.append(ptrs)
        a.length, a.null_count, a.offset = chunk.length, chunk.null_count, chunk.offset
        a.n_buffers, a.n_children, a.buffers = len(bufs), 0, ptrs
        a.children = a.dictionary = a.private_data = None
        a.release = self._release_array
        self.handed["array"] += 1

    def _on_get_schema(self, stream, out):
        self._fill_schema(out[0])
        return 0

    def _on_get_next(self, stream, out):
        if self._next == self.fail_at:
            return EIO
        if self._next == len(self.chunks):
            out[0].release = ArrayRelease()
            return 0
        self._fill_array(out[0], self._next)
        self._next += 1
        return 0

    def arrow_c_stream(self, requested_schema=None):
        s = ArrowArrayStream(self._get_schema, self._get_next, self._get_last_error, self._release_stream, None)
        self._keep.append(s)
        self.structs.append(s)
        self.handed["stream"] += 1
        return capsule(s, STREAM_NAME)

    def arrow_c_array(self, requested_schema=None):
        schema, array = ArrowSchema(), ArrowArray()
        self._fill_schema(schema)
        self._fill_array(array, 0)
        self._keep += [schema, array]
        self.structs += [schema, array]
        return capsule(schema, SCHEMA_NAME), capsule(array, ARRAY_NAME)

    def all_released_once(self):
        return self.released == self.handed

    def buffers_unchanged(self):
        return all(
            [None if b is None else b.raw for b in bufs] == snap
            for bufs, snap in zip(self.live_buffers, self.snapshots)
        )


def native_source(fmt, chunks, stream=True, fail_at=None):
    """The same column from a producer written in C (cores/arrow_source.cpp, built on first
    use): nothing it does during a consumer's call allocates through Python, so a sweep that
    makes those allocations fail sees the consumer's failures alone. `unreleased()` counts
    the structs handed over and not yet released. Where no compiler makes code for this
    machine (the tests of another architecture under emulation), the ctypes producer."""
    built = _arrow_source()
    if built is None:
        return _ctypes_source(fmt, chunks, stream, fail_at=fail_at)[0]
    made = [(c.length, c.offset, c.null_count, tuple(c.buffers)) for c in chunks]
    return built.source(fmt, made, stream, -1 if fail_at is None else fail_at)


_BUILT = {}


def _arrow_source():
    with _BUILD_LOCK:
        if "module" not in _BUILT:
            _BUILT["module"] = _build_arrow_source() if _compiler_for_this_machine() else None
        return _BUILT["module"]


def _compiler_for_this_machine():
    import platform
    import subprocess

    try:
        target = subprocess.run(["g++", "-dumpmachine"], capture_output=True, text=True, timeout=60).stdout
    except OSError:
        return False
    return target.split("-")[0] == platform.machine()


_BUILD_LOCK = threading.Lock()


def _build_arrow_source():
    import hashlib
    import importlib.util
    import os
    import subprocess
    import sysconfig
    import tempfile

    src = os.path.join(os.path.dirname(os.path.abspath(__file__)), "cores", "arrow_source.cpp")
    include, suffix = sysconfig.get_paths()["include"], sysconfig.get_config_var("EXT_SUFFIX")
    with open(src, "rb") as f:
        key = hashlib.sha256(f.read() + include.encode() + suffix.encode()).hexdigest()[:16]
    path = os.path.join(tempfile.gettempdir(), f"tavo-arrow-source-{key}", "arrow_source" + suffix)
    if not os.path.exists(path):  # built by one process, renamed into place whole
        os.makedirs(os.path.dirname(path), exist_ok=True)
        part = f"{path}.{os.getpid()}.{threading.get_ident()}"
        env = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}  # not the sanitizers' runtime
        subprocess.run(["g++", "-std=c++20", "-O1", "-shared", "-fPIC", "-I", include, src, "-o", part],
                       check=True, capture_output=True, timeout=300, env=env)
        os.replace(part, path)
    where = importlib.util.spec_from_file_location("arrow_source", path)
    mod = importlib.util.module_from_spec(where)
    where.loader.exec_module(mod)
    return mod


# Set by the leak check on debug interpreters: `source` then hands out the producer written in
# C (both of the pair it returns) wherever no ctypes-only option is asked for. ctypes moves the
# total reference count of CPython 3.14's debug build by itself: a ctypes Producer made and
# dropped 200 times, no consumer at all, ends rounds at [2, 2, -2, -1]; the C producer with a
# column call and the ctypes reading of its result, at [3, 2, 0, 0].
NATIVE = False


def source(fmt, chunks, stream=True, **kw):
    """An object with exactly one of the two protocol methods, over a Producer."""
    if NATIVE and not kw.get("guard_data") and not kw.get("dictionary"):
        obj = native_source(fmt, chunks, stream, kw.get("fail_at"))
        return obj, obj
    return _ctypes_source(fmt, chunks, stream, **kw)


def _ctypes_source(fmt, chunks, stream, **kw):
    p = Producer(fmt, chunks, **kw)
    return (StreamSource if stream else ArraySource)(p), p


# Classes made once: CPython 3.14's debug build moves its total reference count around a
# class made per call, which the leak check would read as references released too often.
class StreamSource:
    def __init__(self, producer):
        self._producer = producer

    def __arrow_c_stream__(self, requested_schema=None):
        return self._producer.arrow_c_stream()


class ArraySource:
    def __init__(self, producer):
        self._producer = producer

    def __arrow_c_array__(self, requested_schema=None):
        return self._producer.arrow_c_array()


# --- reading an export ----------------------------------------------------------------------


def _bit(addr, i):
    return (ctypes.c_uint8.from_address(addr + (i >> 3)).value >> (i & 7)) & 1


def schema_format(schema):
    """A schema's format; a struct's is "+s<name:format,...>", its fields in order."""
    fmt = schema.format.decode()
    if fmt != "+s":
        return fmt
    kids = ctypes.cast(schema.children, POINTER(POINTER(ArrowSchema)))
    return "+s<%s>" % ",".join("%s:%s" % (kids[k][0].name.decode(), schema_format(kids[k][0]))
                               for k in range(schema.n_children))


def _read_struct(fmt, a):
    """A struct's rows as dicts (None for a null row), each field read from its own array
    (whose validity is its own)."""
    fields = [f.split(":", 1) for f in fmt[len("+s<"):-1].split(",")]
    assert a.n_buffers == 1 and a.n_children == len(fields), (a.n_buffers, a.n_children)
    kids = ctypes.cast(a.children, POINTER(POINTER(ArrowArray)))
    values = []
    for k, (_, f) in enumerate(fields):
        child = kids[k][0]
        assert child.length >= a.offset + a.length and child.release
        values.append(read_array(f, child))
    validity = a.buffers[0] if a.null_count != 0 else None
    return [None if validity and not _bit(validity, i) else
            {name: values[k][i] for k, (name, _) in enumerate(fields)}
            for i in range(a.offset, a.offset + a.length)]


def read_array(fmt, a):
    """The values of one exported array (format u, U, vu, l or g, or a struct of them, see
    schema_format) as Python objects; a string_view's span is checked against the size its
    buffer is given."""
    if fmt.startswith("+s<"):
        return _read_struct(fmt, a)
    n, off = a.length, a.offset
    validity = a.buffers[0] if a.null_count != 0 else None
    out = []
    for i in range(off, off + n):
        if validity and not _bit(validity, i):
            out.append(None)
            continue
        if fmt in ("u", "U"):
            t = ctypes.c_int32 if fmt == "u" else ctypes.c_int64
            size = ctypes.sizeof(t)
            start = t.from_address(a.buffers[1] + i * size).value
            end = t.from_address(a.buffers[1] + (i + 1) * size).value
            out.append(ctypes.string_at(a.buffers[2], end)[start:end].decode("utf-8"))
        elif fmt == "vu":
            v = a.buffers[1] + i * 16
            size = ctypes.c_int32.from_address(v).value
            if size <= 12:
                out.append(ctypes.string_at(v + 4, size).decode("utf-8"))
                continue
            k, at = ctypes.c_int32.from_address(v + 8).value, ctypes.c_int32.from_address(v + 12).value
            n_data = a.n_buffers - 3
            assert 0 <= k < n_data, (i, k, n_data)
            assert 0 <= at and at + size <= ctypes.c_int64.from_address(a.buffers[a.n_buffers - 1] + 8 * k).value
            text = ctypes.string_at(a.buffers[2 + k] + at, size)
            assert text[:4] == ctypes.string_at(v + 4, 4), (i, "prefix")
            out.append(text.decode("utf-8"))
        elif fmt == "l":
            out.append(ctypes.c_int64.from_address(a.buffers[1] + i * 8).value)
        else:
            out.append(ctypes.c_double.from_address(a.buffers[1] + i * 8).value)
    return out


def read_stream(obj):
    """(format, [values of each chunk]) read from obj.__arrow_c_stream__(), every struct released."""
    cap = obj.__arrow_c_stream__()
    s = ArrowArrayStream.from_address(_capsule_pointer(cap, STREAM_NAME))
    schema = ArrowSchema()
    assert s.get_schema(byref(s), byref(schema)) == 0
    fmt = schema_format(schema)
    schema.release(byref(schema))
    chunks = []
    while True:
        a = ArrowArray()
        assert s.get_next(byref(s), byref(a)) == 0
        if not a.release:
            break
        chunks.append(read_array(fmt, a))
        a.release(byref(a))
        assert not a.release
    s.release(byref(s))
    assert not s.release
    return fmt, chunks


def read_single(obj):
    """(format, values) read from obj.__arrow_c_array__()."""
    schema_cap, array_cap = obj.__arrow_c_array__()
    schema = ArrowSchema.from_address(_capsule_pointer(schema_cap, SCHEMA_NAME))
    a = ArrowArray.from_address(_capsule_pointer(array_cap, ARRAY_NAME))
    fmt = schema_format(schema)
    values = read_array(fmt, a)
    # Moved out and released here, as a consumer does: the capsules' destructors then free only memory.
    a.release(byref(a))
    schema.release(byref(schema))
    return fmt, values


def kernels():
    """The column kernels of tavo._native under their short names (`uncamel`, `parse`, ...,
    and `Column`), from the installed package or a module built beside the tests."""
    import types

    try:
        from tavo import _native
    except ImportError:
        import _native
    found = {n[len("columns_"):]: getattr(_native, n) for n in dir(_native) if n.startswith("columns_")}
    return types.SimpleNamespace(Column=_native.Column, **found)

"""Plain-Python twins of collapse, backfill, backfill_iterdict and same_order,
written for clarity: the property tests' reference, and the pure-Python
versions the benchmark times the module against (bench/reference.py)."""


def collapse(*args):
    out = []
    stack = list(reversed(args))
    while stack:
        item = stack.pop()
        if isinstance(item, (list, tuple)):
            stack.extend(reversed(item))
        else:
            out.append(item)
    return out


def backfill(values):
    first = next((v for v in values if v is not None), None)
    out = []
    last = first
    for v in values:
        if v is None:
            out.append(last)
        else:
            out.append(v)
            last = v
    return out


def backfill_iterdict(rows):
    latest = {}   # key text -> latest real value
    waiting = {}  # key text -> output rows that held None before any real value
    out = []
    for row in rows:
        if not isinstance(row, dict):
            raise TypeError("'%s' object cannot be converted to 'PyDict'" % type(row).__qualname__)
        o = {}
        for key, value in row.items():
            if not isinstance(key, str):
                raise TypeError("'%s' object cannot be converted to 'PyString'" % type(key).__qualname__)
            text = key if type(key) is str else str.__str__(key)  # the text, as a plain str
            if value is None:
                if text in latest:
                    o[text] = latest[text]
                else:
                    waiting.setdefault(text, []).append(o)
            else:
                latest[text] = value
                for earlier in waiting.pop(text, ()):
                    earlier[text] = value
                o[text] = value
        out.append(o)
    return out


def same_order(ref_list, comp):
    if len(comp) < len(ref_list):
        return False
    start = 0
    for wanted in ref_list:
        for i in range(start, len(comp)):
            if bool(wanted == comp[i]):
                start = i
                break
        else:
            return False
    return True

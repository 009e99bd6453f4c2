"""Plain-Python twin of tavo.keys.uncamel and tavo.keys.underscore_to_camelcase: the walk
written recursively for clarity. The key conversion itself is _tavo's (tested against
its own model in models.text); this model states what the walk does around it.

Containers are read through their base types (dict.items, list.copy, tuple indexing), as
the module reads their own storage: a subclass's overridden methods are never called.
"""
import _tavo


def convert_keys(data, convert, name, depth=None):
    """`convert` is _tavo.uncamel or _tavo.underscore_to_camelcase, `name` the function's
    name in the messages."""
    path = set()  # the ids of the containers being converted

    def walk(x, levels):
        if levels == 0 or not isinstance(x, (dict, list, tuple)):
            return x
        if id(x) in path:
            raise ValueError(f"{name}: circular reference: a dict, list or tuple contains itself")
        path.add(id(x))
        try:
            if isinstance(x, dict):
                pairs = list(dict.items(x))
                out = {}
                for k, v in pairs:
                    value = walk(v, levels - 1)
                    new = convert(k) if isinstance(k, str) else k
                    if new in out:
                        earlier = next(e for e, _ in pairs
                                       if e is not k and (convert(e) if isinstance(e, str) else e) == new)
                        raise ValueError(f"{name}: the keys {earlier!r} and {k!r} both become {new!r}")
                    out[new] = value
                return out
            if isinstance(x, list):
                return [walk(v, levels) for v in list.copy(x)]
            return tuple(walk(tuple.__getitem__(x, i), levels) for i in range(tuple.__len__(x)))
        finally:
            path.discard(id(x))

    return walk(data, float("inf") if depth is None else depth)


def uncamel(data, depth=None):
    return convert_keys(data, _tavo.uncamel, "uncamel", depth)


def _camelcase_key(key):
    """A key without an underscore is kept (as a plain str); one with converts."""
    return str.__str__(key) if "_" not in key else _tavo.underscore_to_camelcase(key)


def underscore_to_camelcase(data, depth=None):
    return convert_keys(data, _camelcase_key, "underscore_to_camelcase", depth)

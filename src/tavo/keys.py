"""The keys of nested payloads, converted between camelCase and snake_case.

`uncamel(data)` and `underscore_to_camelcase(data)` walk a payload of dicts, lists and
tuples (any nesting depth, subclasses too) and return a new one whose dict keys are
converted as `tavo.uncamel` and `tavo.underscore_to_camelcase` convert a str: every `str`
key becomes an exact `str`, other keys are kept, and values are converted in turn. Dicts
come back as plain `dict`, lists as `list`, tuples as `tuple`; anything else (numbers,
text, sets, other mappings, any object) is the very same object. The input is never
changed.

`depth=n` converts the keys of the first `n` levels of dicts only (lists and tuples are no
level: `depth=1` on a list of records converts each record's own keys); below it, objects
are returned as they are. `depth` is None (every level) or an integer >= 0, taken as
`operator.index` takes it (so `True` is 1); a negative one raises ValueError, anything
else TypeError.

ValueError is raised, and nothing returned, when two keys of one dict become the same key
(`{'userId': 1, 'user_id': 2}`: the message names both and the key they become), and when
a dict, list or tuple contains itself. An object found at several places is converted at
each.

A dict is read from its own storage (a subclass's `__iter__`, `keys` or `__getitem__` is
not called), at one moment: on a free-threaded build another thread changing the payload
during the call never breaks it.
"""

from ._native import keys_uncamel as uncamel
from ._native import keys_underscore_to_camelcase as underscore_to_camelcase

__all__ = ["uncamel", "underscore_to_camelcase"]

# The per-value functions of tavo beyond _tavo's nine (C++); tavo re-exports them.
from typing import Literal

def parse(s: str, *, decimal: Literal[".", ","] = ".") -> int | float | None: ...

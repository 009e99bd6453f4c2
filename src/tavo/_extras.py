"""What a front end says when the library it brings tavo to is not installed."""


def missing(front_end: str, library: str, extra: str) -> str:
    """The message of the ImportError `front_end` raises without `library`."""
    return (f"{front_end} needs {library}, which is not installed here: "
            f"pip install 'tavo[{extra}]' installs it with tavo")

"""Verdict words and codes shared by the store, the imports and the command line."""

FLS = {"doesntexist": 0, "safe": 1, "malware": 2, "unknown": 3, "servererror": 4}
VENDOR = {"doesntexist": 0, "trusted": 1, "safe": 1, "withdrawn": 2, "deleted": 2}


def parse_code(text, words):
    """A verdict word or a signed byte; ValueError with the reason otherwise."""
    text = text.strip()
    if text.lower() in words:
        return words[text.lower()]
    try:
        value = int(text, 10)
    except ValueError:
        raise ValueError("unknown verdict %r (one of %s, or -128..127)" % (text, ", ".join(sorted(words))))
    if not -128 <= value <= 127:
        raise ValueError("verdict %d is outside -128..127" % value)
    return value

"""tavo.price on a corpus of price texts written as shops, marketplaces, invoices and price
comparison sites of many countries write them (tests/data/price_texts.tsv): the share of
amounts and of currencies read right, and the model's reading of each text."""
import math
import os
import re

import pytest

import tavo
from models import price as model
from models import same

CORPUS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "data", "price_texts.tsv")
AMOUNT_GOAL = 0.98
CURRENCY_GOAL = 0.95


def _rows():
    rows = []
    with open(CORPUS, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip("\n")
            if line.startswith("#"):
                continue
            fields = line.split("\t")
            assert len(fields) in (2, 3), (number, line)
            text, amount, currency = (fields + [""])[:3]
            text = re.sub(r"\\u([0-9a-fA-F]{4})", lambda m: chr(int(m.group(1), 16)), text)
            text = text.replace("\\n", "\n").replace("\\t", "\t")
            rows.append((number, text, float(amount) if amount else None, currency or None))
    return rows


ROWS = _rows()


def amount_right(got, amount):
    if amount is None:
        return got is None
    return got is not None and math.isclose(got.amount, amount, rel_tol=1e-12, abs_tol=0.0)


def currency_right(got, currency):
    return (got.currency if got is not None else None) == currency


def test_corpus_size():
    assert len(ROWS) >= 400 and len({text for _, text, _, _ in ROWS}) >= 400


def test_corpus_accuracy():
    amount_misses, currency_misses = [], []
    for number, text, amount, currency in ROWS:
        got = tavo.price(text)
        if not amount_right(got, amount):
            amount_misses.append((number, text, amount, got))
        if not currency_right(got, currency):
            currency_misses.append((number, text, currency, got))
    amount_share = 1 - len(amount_misses) / len(ROWS)
    currency_share = 1 - len(currency_misses) / len(ROWS)
    print(f"\n{len(ROWS)} texts: amount {amount_share:.1%}, currency {currency_share:.1%}")
    for miss in amount_misses + currency_misses:
        print("  miss", *miss)
    assert amount_share >= AMOUNT_GOAL, amount_misses
    assert currency_share >= CURRENCY_GOAL, currency_misses


@pytest.mark.parametrize("number, text", [(n, t) for n, t, _, _ in ROWS])
def test_corpus_model(number, text):
    got = tavo.price(text)
    assert same(None if got is None else tuple(got), model.price(text)), (number, text)

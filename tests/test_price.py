"""tavo.price: the amount and currency of price texts written in many countries, the choices
among several numbers, the decimal mark of one text, and the module against the model."""
import copy
import gc
import math
import pickle
import weakref

import pytest
from hypothesis import given, settings, strategies as st

import catalogue
import tavo
from models import price as model
from models import same

CASES = [
    # the first price, not every digit joined
    ("205,68 € 205.68", 205.68, "€"),
    ("$ 281.40 $ 265.70", 281.4, "$"),
    ("AED 8000 (USD 2179)", 8000, "AED"),
    ("UVP 24,99 € 19,99 €", 24.99, "€"),
    ("was £20 now £15", 20, "£"),
    # the amount next to the currency
    ("Pack of 3 for $12.50", 12.5, "$"),
    ("3 x 4,99 €", 4.99, "€"),
    ("500 g 2,99 €", 2.99, "€"),
    ("10 - 19,99 €", 19.99, "€"),  # not a range: one has cents, the other none
    # ranges: the first amount, the currency wherever it stands
    ("£6.95 - £9.95", 6.95, "£"),
    ("From 26 to 50 €", 26, "€"),
    ("12.99 - 15.99 USD", 12.99, "USD"),
    ("19,90–29,90 zł", 19.9, "zł"),
    ("ab 100 bis 200 CHF", 100, "CHF"),
    ("3.000 ~ 5.000円", 3000, "円"),
    ("Modell 2024 – 899 €", 899, "€"),  # a range runs upward: this is a model and a price
    ("10 - 5 €", 5, "€"),
    # percentages
    ("40% OFF", None, None),
    ("-20% 15,99 €", 15.99, "€"),
    ("Save 15 % now 9,99 €", 9.99, "€"),
    # words and notes around the price
    ("27.00 руб.", 27.0, "руб."),
    ("$80.00 U.S.", 80.0, "$"),
    ("199.90 Fr.", 199.9, "Fr."),
    ("$3,690.00 (ea)", 3690.0, "$"),
    ("ab 19,90 €", 19.9, "€"),
    ("19,90 € *", 19.9, "€"),
    ("1.234,50 EUR inkl. MwSt.", 1234.5, "EUR"),
    ("Price: 1 299,00 €", 1299.0, "€"),
    # negatives
    ("(1,234.00)", -1234.0, None),
    ("- $44.99", -44.99, "$"),
    ("-$5.00", -5.0, "$"),
    ("$-5.00", -5.0, "$"),
    ("(USD 12.50)", -12.5, "USD"),
    ("$(1,234.00)", -1234.0, "$"),  # the currency outside the parentheses, as statements write it
    ("USD (1,234.00)", -1234.0, "USD"),  # a currency is no word
    ("(12,50) €", -12.5, "€"),
    ("(12.50) $15.00", 15.0, "$"),  # (the currency of the next number)
    ("Versandkosten (4,95 €)", 4.95, "€"),  # after a word, parentheses hold a note
    ("Versandkosten (4,95) €", 4.95, None),
    ("Gift wrap ($4.99)", 4.99, "$"),
    ("−15,00 €", -15.0, "€"),
    ("Rabatt: - 5,00 €", -5.0, "€"),
    ("(- 5 €)", -5, "€"),
    # a dash between a label and its price is no sign
    ("Price - $19.99", 19.99, "$"),
    ("500 g – 4,99 €", 4.99, "€"),
    ("T-Shirt - 19,99 €", 19.99, "€"),
    ("Sale - 20% - $19.99", 19.99, "$"),
    ("1 шт. — 99 ₽", 99, "₽"),
    ("– 5 €", -5, "€"),
    # no cents
    ("50,- Kč", 50, "Kč"),
    ("1 299:- kr", 1299, "kr"),  # the Swedish no cents
    ("12:95 kr", 12.95, "kr"),  # and cents
    ("Öppet 10:00-19:00", 10, None),  # (no currency: no cents)
    ("1.899,-", 1899, None),
    ("1,299.-", 1299, None),
    ("29.90.-", 29.9, None),  # a number with cents of its own
    ("€ 12,–", 12, "€"),
    # groups
    ("S/.49.90", 49.9, "S/."),  # the currency's dot is no decimal mark before the figure
    ("B/.25", 25, "B/."),
    ("CHF 1'049,95", 1049.95, "CHF"),
    ("CHF 1ʼ299.00", 1299.0, "CHF"),  # U+02BC
    ("1\u200b299 ₽", 1299, "₽"),  # characters that show nothing
    ("€\u200e19,99", 19.99, "€"),
    # what a web page leaves: numeric references to spaces, and their digits no number
    ("1&#160;299 Kč", 1299, "Kč"),
    ("12,95&#xA0;€", 12.95, "€"),
    ("&#8381; 1 990", 1990, "₽"),  # a reference to a sign is that sign
    ("&euro;12,99", 12.99, "€"),
    ("12,99&nbsp;&pound;", 12.99, "£"),
    ("&#x20AC; 5", 5, "€"),
    ("&#65;5", 5, None),  # 'A': no sign
    ("&#xA0;12", 12, None),
    ("CHF 1’049.95", 1049.95, "CHF"),
    ("1\u00a0299,00\u00a0€", 1299.0, "€"),
    ("12\u202f990 Ft", 12990, "Ft"),
    ("EUR 1 234 567,89", 1234567.89, "EUR"),
    ("₹ 1,49,999", 149999, "₹"),
    ("12,50 100 Stück", 12.5, None),  # no group after a fraction
    # the decimal mark of one text
    ("€1.234,56", 1234.56, "€"),
    ("$1,234.56", 1234.56, "$"),
    ("$ 1.144.000", 1144000, "$"),
    ("3,500円", 3500, "円"),
    ("₫ 250.000", 250000, "₫"),
    ("19,99 zł", 19.99, "zł"),
    ("$1,5", 1.5, "$"),
    ("3.14159 EUR", 3.14159, "EUR"),
    ("1250.000 €", 1250.0, "€"),  # more than three digits before the mark: no group
    ("1 250.000 €", 1250000, "€"),
    ("0.125 $", 0.125, "$"),
    # currencies before and after, with and without a space
    ("12.99 USD", 12.99, "USD"),
    ("USD 12.99", 12.99, "USD"),
    ("USD12.99", 12.99, "USD"),
    ("12.99USD", 12.99, "USD"),
    ("US$ 1,299", 1299, "US$"),
    ("C$ 12", 12, "C$"),
    ("A$12", 12, "A$"),
    ("R$ 1.234,56", 1234.56, "R$"),
    ("HK$ 99.90", 99.9, "HK$"),
    ("Rs. 2,499", 2499, "Rs."),
    ("¥1,000", 1000, "¥"),
    ("1,000円", 1000, "円"),
    ("￥1,280", 1280, "￥"),
    ("₩10,000", 10000, "₩"),
    ("฿1,250.00", 1250.0, "฿"),
    ("12.990 ₫", 12990, "₫"),
    ("1 299 Kč", 1299, "Kč"),
    ("12 990 Ft", 12990, "Ft"),
    ("49,99 lei", 49.99, "lei"),
    ("299,90 TL", 299.9, "TL"),
    ("₺299,90", 299.9, "₺"),
    ("kr 1 299", 1299, "kr"),
    ("1.299,00 kr.", 1299.0, "kr."),
    ("S/ 49.90", 49.9, "S/"),
    ("R 199.99", 199.99, "R"),
    ("Q150.00", 150.0, "Q"),
    ("99 元", 99, "元"),
    ("₪ 59.90", 59.9, "₪"),
    ("د.إ. 120", 120, "د.إ."),
    ("M 12,99 €", 12.99, "€"),  # a lone letter only where there is no other currency
    ("12 EURO", 12, "EURO"),
    ("12 USDT", 12, None),  # a code inside a word is none
    ("12 kroken", 12, None),  # nor 'kr' inside a word
    ("12 kroner", 12, "kroner"),
    ("kr. 299,-", 299, "kr."),
    ("NOK 1 299,-", 1299, "NOK"),
    ("Rp 150.000", 150000, "Rp"),
    ("₫ 1.290.000", 1290000, "₫"),
    ("12,900원", 12900, "원"),
    ("1280元", 1280, "元"),
    ("45,00 лв.", 45.0, "лв."),
    ("1 299 грн", 1299, "грн"),
    ("S/. 129.90", 129.9, "S/."),
    ("ARS $ 12.999,00", 12999.0, "$"),
    ("£9.99 (£1.25 / 100 g)", 9.99, "£"),
    ("Statt 19,99 € nur 14,99 €", 19.99, "€"),
    ("Free shipping on orders over $50", 50, "$"),
    ("KSh 1,200", 1200, "KSh"),
    ("100 ر.س", 100, "ر.س"),  # an abbreviation's dot left out
    ("Rs.1,299", 1299, "Rs."),
    ("No.5 $10", 10, "$"),  # a currency against the next number is that one's
    ("19,99 €29,99 €", 19.99, "€"),  # but for a next number with its own
    ("19,99 €4 Stück auf Lager", 19.99, "€"),  # or one that counts something after an amount
    ("1 990 ₽3 шт. в наличии", 1990, "₽"),
    ("19,99 €2-3 Tage", 19.99, "€"),
    ("1 990 ₽2 490 ₽", 1990, "₽"),
    ("12.50 $15.00", 15.0, "$"),
    ("19,900원29,000원", 19900, "원"),  # (and the two digits after it go on: no cents)
    ("Canon EOS R50 – 799 €", 799, "€"),  # a number of a word starts no range
    ("iPhone 15 – 899 €", 899, "€"),  # nor one after a name
    ("Pixel 8 - $699", 699, "$"),
    ("ab 100 - 200 CHF", 100, "CHF"),  # but after a word that opens it
    # cents after the currency, a fraction without a whole part
    ("12€50", 12.5, "€"),
    ("12€ 50", 12, "€"),
    ("$.99", 0.99, "$"),
    (",50 €", 0.5, "€"),
    # multiples
    ("£1.5k", 1500.0, "£"),
    ("$2K", 2000, "$"),
    ("5kg 3,99 €", 3.99, "€"),
    ("150k ₫", 150000, "₫"),  # a currency after the letter
    ("2.5K EUR", 2500.0, "EUR"),
    ("150k", 150, None),  # of nothing priced
    ("50Kč", 50, "Kč"),
    # without a currency: the first number with a fraction, else the first
    ("2 for 5", 2, None),
    ("Size 42 only 59.95", 59.95, None),
    ("1 234.56", 1234.56, None),
    # currencies of thousandths, single letters that yield, page leftovers, superscript cents
    ("KD 12.500", 12.5, "KD"),
    ("BHD 1.250", 1.25, "BHD"),
    ("12.500 Ft", 12500, "Ft"),
    ("1.5L 2,49 €", 2.49, "€"),
    ("R 199", 199, "R"),
    ("24,99&nbsp;€", 24.99, "€"),
    ("1&nbsp;299&nbsp;Kč", 1299, "Kč"),
    ("19⁹⁹ €", 19.99, "€"),
    ("$1.2M", 1200000.0, "$"),
    ("السعر 120 د.إ", 120, "د.إ"),
    ("US $19.99", 19.99, "US $"),
    ("250.000đ", 250000, "đ"),
    ("1 500 рублей", 1500, "рублей"),
    ("299 kronor", 299, "kronor"),
    ("1 299 Руб.", 1299, "Руб."),  # an abbreviation with a capital
    ("RS. 499", 499, "RS."),
    ("RO 2.500", 2.5, "RO"),  # a rial of thousandths
    ("Nu 1 299 kr", 1299, "kr"),  # 'Nu': now
    ("QR 1,299", 1299, "QR"),  # the marks of shops that CLDR writes otherwise
    ("U$S 129", 129, "U$S"),
    ("HKD$128", 128, "HKD$"),
    ("1,500 रु.", 1500, "रु."),
    ("Size S 129", 129, None),  # no Somali shilling
    # digits of other scripts
    ("\uff11\uff0c\uff12\uff18\uff10\u5186", 1280, "\u5186"),
    ("\u06f1\u06f2\u06f9\u066c\u06f0\u06f0\u06f0 \u062a\u0648\u0645\u0627\u0646", 129000, "\u062a\u0648\u0645\u0627\u0646"),
    ("\u0661\u0662\u066b\u0665\u0660 \u0631.\u0633", 12.5, "\u0631.\u0633"),
    ("\u20b9 \u0967,\u0968\u096f\u096f", 1299, "\u20b9"),
    ("1,\uff12\uff18\uff10\u5186", 1280, "\u5186"),  # mixed: one number
    ("\u0661\u0662\u066b\u0665\u0660", 12.5, None),
    ("Item 5: \u0661\u0662\u066b\u0665\u0660 \u0631.\u0633", 12.5, "\u0631.\u0633"),
    ("$5 \u0661\u0662", 5, "$"),  # a price in ASCII digits stands
    ("\uff11" * 25 + "\u5186", int("1" * 25), "\u5186"),  # past 64 bits
    ("9" * 22 + " \u0661\u0662 \u0631.\u0633", 12, "\u0631.\u0633"),  # the first reading's long amount set aside
    # a percentage with its sign first; a dash for no whole units; a footnote's marks
    ("%20 \u0130ndirim", None, None),
    ("Sepette %10 \u0130ndirim 1.299,90 TL", 1299.9, "TL"),
    ("29%12,900\uc6d0", 12900, "\uc6d0"),  # the sign of the number before
    ("CHF \u2013.95", 0.95, "CHF"),
    ("\u2014.50 CHF", 0.5, "CHF"),
    ("Fr. -.95", 0.95, "Fr."),
    ("CHF \u2212.50", -0.5, "CHF"),  # a minus sign is a sign
    ("12,99* \u20ac", 12.99, "\u20ac"),
    ("12,99 ** \u20ac", 12.99, "\u20ac"),
    ("12,99\u00b9 \u20ac", 12.99, "\u20ac"),
    ("19\u2079\u2079 \u20ac", 19.99, "\u20ac"),  # superscript cents stay cents
    # a currency on the next line, before a number there, is that one's
    ("Taglia 44\n\u20ac 39,90", 39.9, "\u20ac"),
    ("Taglia 44 \u20ac 39,90", 44, "\u20ac"),  # on one line: the first number's
    ("44 \u20ac\n39,90", 44, "\u20ac"),
    ("Sfr. 19.90", 19.9, "Sfr."),
    # spaces a page leaves
    ("1&thinsp;299,00&nbsp;z\u0142", 1299.0, "z\u0142"),
    ("12&ensp;990 \u20bd", 12990, "\u20bd"),
    ("12\u2002990 \u20bd", 12990, "\u20bd"),
    # no digit, no price
    ("Free!", None, None),
    ("", None, None),
    ("EUR", None, None),
]


def pair(p):
    """A result of tavo.price as the model gives it."""
    if p is None:
        return None
    assert type(p) is tavo.Price, p
    return tuple(p)


def check(got, amount, currency):
    if amount is None:
        assert got is None
        return
    assert type(got) is tavo.Price
    assert type(got.amount) is type(amount) and same(got.amount, amount), got
    assert got.currency == currency, got


@pytest.mark.parametrize("text, amount, currency", CASES)
def test_price(text, amount, currency):
    got = tavo.price(text)
    check(got, amount, currency)
    assert same(model.price(text), None if amount is None else (amount, currency))


@pytest.mark.parametrize("text, decimal, amount, currency", [
    ("1.250 €", ".", 1.25, "€"),
    ("1.250 €", ",", 1250, "€"),
    ("1,250 €", ",", 1.25, "€"),
    ("1,250 €", None, 1250, "€"),
    ("12,5 €", ".", 125, "€"),  # the other mark is a separator
    ("1.234,56 €", ".", 1.23456, "€"),
    ("1.234.567 €", ".", 1234567, "€"),  # a mark used twice is never the decimal point
    ("50,- Kč", ".", 50, "Kč"),
])
def test_decimal_given(text, decimal, amount, currency):
    check(tavo.price(text, decimal=decimal), amount, currency)


def test_price_is_a_named_tuple():
    p = tavo.price("€ 5")
    assert p == (5, "€") and p._fields == ("amount", "currency") and p._asdict() == {"amount": 5, "currency": "€"}
    assert tavo.Price(1, None) == (1, None) and "Price" in tavo.__all__ and "price" in tavo.__all__
    # hashed as the tuple it equals (CPython 3.14 and later cache a tuple's hash in the object)
    assert hash(p) == hash((5, "€")) == hash(tavo.Price(5, "€"))
    assert {p: 1}[(5, "€")] == 1 and len({p, (5, "€"), tavo.Price(5, "€")}) == 1
    # the named tuple's own methods, names and pickling, on the class the native module made of it
    assert p._replace(amount=6) == (6, "€") and type(p._replace(amount=6)) is tavo.Price
    assert tavo.Price._make([7, None]) == (7, None) and repr(p) == "Price(amount=5, currency='€')"
    assert (tavo.Price.__name__, tavo.Price.__qualname__) == ("Price", "Price") and tavo.Price.__doc__
    assert pickle.loads(pickle.dumps(p)) == p and type(copy.deepcopy(p)) is tavo.Price


def test_price_class_frees_what_it_holds():
    # nested deeper than the C stack could recurse, freed through the trash can as tuples are
    nested = None
    for _ in range(300_000):
        nested = tavo.Price(nested, None)
    del nested

    class Sub(tavo.Price):  # with a __dict__
        pass

    s = Sub(1, "€")
    s.note = "x"
    freed = weakref.ref(marker := Marker())
    s = tavo.Price(marker, Sub(2, marker))
    del marker, s
    gc.collect()
    assert freed() is None


class Marker:
    pass


@pytest.mark.parametrize("model", [tuple, int, 5, type("Wide", (tuple,), {}),
                                   type("Deep", (type("Base", (tuple,), {"__slots__": ()}),), {"__slots__": ()})])
def test_tuple_class_refuses_what_is_not_a_named_tuple(model):
    with pytest.raises(TypeError):
        tavo._native._tuple_class(model)


@pytest.mark.parametrize("text, amount", [
    ("$" + "9" * 30, int("9" * 30)),
    ("$" + "9" * 25 + ".5", float("9" * 25 + ".5")),
    ("1" + "0" * 400 + ".5 €", math.inf),
    ("€ " + "7" * 5000, None),  # longer than the interpreter converts
    ("x" * 10_000 + " 12,50 €", 12.5),
])
def test_large(text, amount):
    got = tavo.price(text)
    assert (got is None) if amount is None else same(got.amount, amount)


@catalogue.parametrize(catalogue.price.CASES)
def test_catalogue(case):
    catalogue.run(case)


# --- module against model -------------------------------------------------------------

PIECES = ["1", "12", "0", "999", "1234", "5", ".", ",", ",-", ".-", " ", "\u00a0", "\u202f", "'", "%", "-", "(", ")",
          "€", "$", "US$", "zł", "руб.", "円", "CHF", "EUR", "kr", "R", "k", "to", " - ", " x ", "Fr.", "ab ", "x",
          "é", "Ж", "–", "−", "~", "\u2019", "\u02bc", "\u200e", "\ufeff", "&#160;", "&#xA0;", "&#8364;", "&#", ";", "&euro;", "&#36;",
          "&nbsp;", "M", "₩", "원", ":", "Kit ", "i", "&thinsp;", "\u2002", "*", "\u00b9", "\u2079", "\uff11", "\u0662",
          "\u066b", "\u066c", "\uff0c", "\u0967", "QR", "S", "\n", "\r\n"]


@settings(max_examples=1500, deadline=None)
@given(st.lists(st.sampled_from(PIECES), max_size=12), st.sampled_from([None, ".", ","]))
def test_module_is_model(pieces, decimal):
    text = "".join(pieces)
    assert same(pair(tavo.price(text, decimal=decimal)), model.price(text, decimal)), (text, decimal)


@settings(max_examples=300, deadline=None)
@given(st.text(max_size=30), st.sampled_from([None, ".", ","]))
def test_any_text_is_model(text, decimal):
    try:
        text.encode("utf-8")
    except UnicodeEncodeError:
        with pytest.raises(UnicodeEncodeError):
            tavo.price(text, decimal=decimal)
        return
    assert same(pair(tavo.price(text, decimal=decimal)), model.price(text, decimal)), (text, decimal)

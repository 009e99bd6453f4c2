#!/usr/bin/env python3
"""Generates the currency table of the price reader from CLDR.

Usage: gen_currency_tables.py [-o OUTPUT]

CLDR (Unicode's locale data) is read through the Babel package, pinned to
BABEL_VERSION, which carries CLDR_VERSION. The table holds what people write
beside an amount, each with the ISO 4217 code it stands for:

- every ISO 4217 code CLDR knows (current and historic);
- every currency symbol of every CLDR locale ('€', 'US$', 'zł', 'Kč', 'Rs.',
  'د.إ.'), bidi and zero-width marks removed; symbols with a digit and the
  generic '¤' are left out;
- the one-word display names (singular and plural) of a currency in the
  languages of the territories where it is legal tender today ('円', 'euro',
  'yen', 'lek'): a short name there is what a price tag says;
- the few abbreviations that shops write and CLDR has no symbol for (ABBREVIATIONS
  below, each with its code), such as 'руб.' and 'Fr.';
- a symbol that ends with an abbreviation's dot also without it ('ر.س').

The output (default: src/numparse/currency_table.inc) is C++ included by
src/numparse/currency_table.hpp, which declares the record type. The entries
are sorted by first byte, then longest first, then by bytes, and an index
gives each first byte its run of entries, so that the longest entry at a
position is the first one found.
"""
from __future__ import annotations

import argparse
import os
import sys

BABEL_VERSION = "2.18.0"
CLDR_VERSION = "47"

# Written in shops, not a symbol in CLDR's data: text -> ISO 4217 code.
ABBREVIATIONS = {
    "руб.": "RUB", "руб": "RUB", "р.": "RUB", "₽.": "RUB",
    "грн.": "UAH", "грн": "UAH",
    "Fr.": "CHF", "SFr.": "CHF", "sFr.": "CHF", "Sfr.": "CHF", "Fr": "CHF",
    "lei": "RON", "Lei": "RON", "LEI": "RON",
    "TL": "TRY",
    "Rs": "INR", "Rs.": "INR", "Rp.": "IDR",
    "zl": "PLN", "Kc": "CZK", "kn": "HRK", "Kn": "HRK",
    "лв": "BGN", "дин.": "RSD", "din.": "RSD", "din": "RSD",
    "Ft.": "HUF", "HUF.": "HUF",
    "Euro": "EUR", "EURO": "EUR", "Euros": "EUR", "euros": "EUR",
    "U.S.": "USD", "USD$": "USD", "AU$": "AUD", "NZ$": "NZD", "S$": "SGD", "RD$": "DOP",
    "Bs.": "VES", "Bs": "BOB", "S/.": "PEN", "Q.": "GTQ", "RM.": "MYR",
    "kr.": "DKK", "KSh": "KES", "E£": "EGP", "L.E.": "EGP", "LE": "EGP",
    "원": "KRW", "тг": "KZT",
    # codes and country marks written with a space or in other ways before '$'
    "US $": "USD", "US\u00a0$": "USD", "AU $": "AUD", "CA $": "CAD", "C $": "CAD", "NZ $": "NZD",
    "HK $": "HKD", "S $": "SGD", "NT $": "TWD", "MX $": "MXN", "CDN$": "CAD", "CDN": "CAD", "CLP$": "CLP",
    "COL$": "COP",
    # names and abbreviations in the shops of their countries
    "Kr": "SEK", "Kr.": "DKK", "KR": "SEK",
    "рублей": "RUB", "рубля": "RUB", "рубль": "RUB", "р": "RUB",
    "тенге": "KZT", "тг.": "KZT", "гривень": "UAH", "гривні": "UAH", "гривна": "UAH",
    "Tk": "BDT", "Tk.": "BDT", "RMB": "CNY", "rmb": "CNY",
    "đ": "VND", "Đ": "VND", "VNĐ": "VND", "vnđ": "VND", "VNđ": "VND", "đồng": "VND",
    "Php": "PHP", "KD": "KWD", "BD": "BHD", "JD": "JOD",
    "DH": "MAD", "Dh": "MAD", "dh": "MAD", "Dhs": "AED", "Dhs.": "AED",
    "ש\"ח": "ILS", "ש״ח": "ILS",
    "درهم": "AED", "ريال": "SAR", "دينار": "KWD", "جنيه": "EGP",
    # signs CLDR gives only in their narrow forms, or not at all
    "₨": "PKR", "﷼": "SAR", "₵": "GHS", "GH¢": "GHS", "¢": "USD", "＄": "USD", "￡": "GBP",
    "$U": "UYU", "B$": "BND", "N$": "NAD", "J$": "JMD", "TT$": "TTD",
    "Ksh.": "KES", "KSh.": "KES", "Kshs": "KES", "Kshs.": "KES", "CFA": "XOF", "F CFA": "XOF", "FRw": "RWF",
    "টাকা": "BDT", "रु": "NPR", "रू": "NPR", "so'm": "UZS", "сўм": "UZS", "лари": "GEL",
    # the plural names shops write after an amount
    "dollars": "USD", "dollar": "USD", "Dollar": "USD", "pesos": "MXN", "reais": "BRL", "yuan": "CNY",
    "złotych": "PLN", "rupees": "INR", "rupee": "INR", "yen": "JPY", "Yen": "JPY",
    "Ks": "MMK", "تومان": "IRR",
    # the dinars and rials of thousandths as their shops write them
    "RO": "OMR", "R.O.": "OMR", "R.O": "OMR", "LD": "LYD", "ل.د": "LYD", "dt": "TND", "Dt": "TND", "NTD": "TWD",
    # the marks of their shops that CLDR writes otherwise or not at all
    "QR": "QAR", "रु.": "NPR", "रू.": "NPR", "NRs": "NPR", "NRs.": "NPR", "HKD$": "HKD", "AR$": "ARS",
    "Col$": "COP", "Mex$": "MXN", "U$S": "USD", "บ.": "THB", "Rwf": "RWF", "UShs": "UGX", "UShs.": "UGX",
    "ლარი": "GEL", "դր.": "AMD", "դրամ": "AMD", "man.": "AZN", "manat": "AZN", "сомони": "TJS", "MT": "MZN",
    "$b": "BOB", "ドル": "USD", "دلار": "USD", "ကျပ်": "MMK", "रुपये": "INR", "रुपए": "INR", "रुपया": "INR",
    # names in the forms a number takes before them
    "kronor": "SEK", "kroner": "NOK", "krona": "SEK", "krone": "DKK", "korun": "CZK", "koruna": "CZK",
    "koruny": "CZK", "złote": "PLN", "złoty": "PLN", "zlotych": "PLN", "zlote": "PLN", "zloty": "PLN",
    "рублів": "UAH", "гривен": "UAH", "гривня": "UAH", "грн.": "UAH", "Franken": "CHF", "francs": "CHF",
    "franc": "CHF", "forint": "HUF", "baht": "THB", "บาท": "THB", "soles": "PEN", "dólares": "USD",
    "dolares": "USD", "lira": "TRY", "rand": "ZAR", "ringgit": "MYR", "rupiah": "IDR", "块": "CNY",
    "лей": "MDL", "лева": "BGN", "leva": "BGN", "lev": "BGN", "reales": "BRL", "euros": "EUR",
}

# Forms that are words of a language more often than a currency next to a
# number: 'Nu' is Bhutan's 'Nu.' without its dot, and "now" in the Nordic
# languages ('Nu 299 kr').
WORDS = {"Nu", "FT"}
# Symbols of CLDR left out: a lone capital that is far more often a size or an
# initial than the Somali shilling ('Size S 129', 'U$S').
LEFT_OUT = {"S"}

# The codes that shops also write in lower case or with a capital only ('eur',
# 'Eur'): those of the currencies most priced in whose lower-case form is no
# common word.
CASED_CODES = ["EUR", "USD", "GBP", "CHF", "SEK", "NOK", "DKK", "PLN", "CZK", "HUF", "RON", "RUB", "UAH", "INR",
               "JPY", "CNY", "AUD", "CAD", "NZD", "HKD", "SGD", "ZAR", "BRL", "MXN", "AED", "SAR", "THB", "IDR",
               "MYR", "VND", "KRW", "KZT", "ILS", "EGP", "BGN", "TRY"]

# Marks that only steer the display direction or the line breaks.
INVISIBLE = dict.fromkeys(map(ord, "\u200e\u200f\u061c\u200b\u2066\u2067\u2068\u2069"))
MAX_LENGTH = 24  # bytes of UTF-8


def entries():
    """text -> ISO code, from CLDR and ABBREVIATIONS."""
    import babel
    import babel.core
    from babel import localedata

    if babel.__version__ != BABEL_VERSION or str(babel.core.get_cldr_version()) != CLDR_VERSION:
        sys.exit(f"need Babel {BABEL_VERSION} (CLDR {CLDR_VERSION}), found {babel.__version__} "
                 f"(CLDR {babel.core.get_cldr_version()})")
    codes = set(babel.core.get_global("all_currencies"))
    found = {}

    def add(text, code, replace=False):
        text = text.translate(INVISIBLE).strip()
        if not text or text == "¤" or text in LEFT_OUT or any(c.isdigit() for c in text) or \
                len(text.encode()) > MAX_LENGTH:
            return
        if replace or text not in found:
            found[text] = code

    # The languages of each currency's territories of today.
    tender = {}
    for territory, currencies in babel.core.get_global("territory_currencies").items():
        languages = {lang for lang, info in babel.core.get_global("territory_languages").get(territory, {}).items()
                     if info.get("official_status")}
        for code, _start, end, is_tender in currencies:
            if end is None and is_tender:
                tender.setdefault(code, set()).update(languages)

    for lid in sorted(localedata.locale_identifiers()):
        data = localedata.load(lid)
        language = lid.split("_")[0]
        for code, symbol in sorted(data.get("currency_symbols", {}).items()):
            if symbol != code:
                add(symbol, code)
        for code in sorted(codes):
            if code.startswith("X") or language not in tender.get(code, ()):
                continue
            names = [data.get("currency_names", {}).get(code, "")]
            names += sorted(data.get("currency_names_plural", {}).get(code, {}).values())
            for name in names:
                if name and " " not in name and len(name) <= 6:
                    add(name, code)
    # A symbol that ends an abbreviation with a dot is written without it too
    # ('ر.س.' and 'ر.س', 'лв.' and 'лв'), when two characters or more are left.
    for text, code in sorted(found.items()):
        if text.endswith(".") and len(text) >= 3 and text[:-1] not in WORDS:
            add(text[:-1], code)
    # A symbol that several currencies share keeps the first code met; the
    # codes themselves always stand for themselves.
    for text, code in ABBREVIATIONS.items():
        add(text, code)
    # Shops write the abbreviations in capitals too, and with a capital first
    # ('РУБ.', 'Руб.', 'ZŁ', 'KČ', 'DHS').
    for text, code in sorted(ABBREVIATIONS.items()):
        if sum(c.isalpha() for c in text) >= 2:
            for cased in (text.upper(), text[0].upper() + text[1:]):
                if cased not in WORDS:
                    add(cased, code)
    for text, code in sorted(found.items()):
        if text != text.upper() and 2 <= len(text) <= 4 and all(c.isalpha() or c == "." for c in text) \
                and not text.isascii():
            add(text.upper(), code)
    for code in CASED_CODES:
        if code != "TRY":  # 'try' is a word
            add(code.lower(), code)
        add(code.title(), code)
    for code in codes:
        add(code, code, replace=True)
    return found


def c_string(text):
    out = []
    for b in text.encode("utf-8"):
        if 0x20 <= b < 0x7F and b not in b'"\\?':
            out.append(chr(b))
        else:
            out.append(f"\\{b:03o}")
    return '"' + "".join(out) + '"'


def render(found):
    items = sorted(found.items(), key=lambda kv: (kv[0].encode()[0], -len(kv[0].encode()), kv[0].encode()))
    first = [0] * 257
    for text, _ in items:
        first[text.encode()[0] + 1] += 1
    for i in range(256):
        first[i + 1] += first[i]
    lines = [
        f"// Generated by tools/gen_currency_tables.py from CLDR {CLDR_VERSION} (Babel {BABEL_VERSION}). "
        "Do not edit.",
        "// The currency signs, codes and short names written beside an amount, each",
        "// with its ISO 4217 code; sorted by first byte, longest first.",
        "",
        f"inline constexpr std::size_t currency_entry_count = {len(items)};",
        "",
        "inline constexpr currency_entry currency_entries[currency_entry_count] = {",
    ]
    for text, code in items:
        shown = text.encode("ascii", "backslashreplace").decode() if not text.isprintable() else text
        lines.append(f"    {{{c_string(text)}, {len(text.encode())}, \"{code}\"}},  // {shown}")
    lines.append("};")
    lines.append("")
    lines.append("// Entry i of first byte b: currency_entries[currency_first[b] + i], below currency_first[b + 1].")
    lines.append("inline constexpr std::uint16_t currency_first[257] = {")
    for i in range(0, 257, 16):
        lines.append("    " + ", ".join(str(v) for v in first[i:i + 16]) + ",")
    lines.append("};")
    return "\n".join(lines) + "\n"


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("-o", "--output", default=os.path.join(here, "..", "src", "numparse", "currency_table.inc"))
    args = parser.parse_args()
    text = render(entries())
    with open(args.output, "w", encoding="utf-8", newline="\n") as f:
        f.write(text)


if __name__ == "__main__":
    main()

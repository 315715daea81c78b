#!/usr/bin/env python3
"""Writes decoding_cases.tsv: message texts encoded with Python's base64 and zlib
modules, with the text that decoding them must give.

Columns, tab-separated: name, html flag (1, 0, or - when the result is null),
number of inflation buffers the decoder asks for, the input text in hex, the
expected text in hex (- for null). Run it from anywhere; it rewrites the file beside
itself:  python3 make_decoding_cases.py
"""
import base64
import os
import zlib

B64 = (b"<BASE64-DATA>", b"</BASE64-DATA>")
DEFL = (b"<DEFLATE-DATA>", b"</DEFLATE-DATA>")
HTML = (b"<HTML-DATA>", b"</HTML-DATA>")

cases = []


def add(name, text, expected, html=False, inflations=0):
    cases.append((name, text, expected, html, inflations))


def tag(t, body):
    return t[0] + body + t[1]


def b64(body):
    return tag(B64, base64.b64encode(body))


def deflated(body, level=6):
    return tag(DEFL, zlib.compress(body, level))


def ratio_text(low, high):
    """A text whose zlib stream inflates to more than low and at most high times
    its own length."""
    for n in range(1, 4000):
        body = b"".join(b"line %d: margin call at %d.%02d\n" % (i % 7, i % 5, i % 3) for i in range(n))
        r = len(body) / len(zlib.compress(body, 9))
        if low < r <= high:
            return body
    raise SystemExit("no text for ratio %s..%s" % (low, high))


def exact_text(factor):
    """A text exactly factor times as long as its zlib stream (level 9)."""
    for n in range(1, 400):
        body = b"".join(b"price %d.%d;" % (i % 11, i % 13) for i in range(n))
        comp = zlib.compress(body, 9)
        # Pad with a repeated byte: the stream grows far slower than the text.
        for pad in range(0, 20000):
            padded = body + b"x" * pad
            comp = zlib.compress(padded, 9)
            if len(padded) == factor * len(comp):
                return padded
            if len(padded) > factor * len(comp) + 64:
                break
    raise SystemExit("no exact text for factor %d" % factor)


plain = b"Your order 1234 was filled at 1.2345."
utf8 = "Счёт 42: маржин-колл — 証拠金 ¥100".encode("utf-8")
fragment = b"<p>Margin call on <b>account 42</b></p>"
long_body = b"The quick brown fox jumps over the lazy dog. " * 40

add("plain text is returned unchanged", plain, plain)
add("an HTML-DATA tag around x", tag(HTML, b"x"), b"x", html=True)
add("HTML content between other text", b"see: " + tag(HTML, fragment) + b" (end)", fragment, html=True)
add("base64 of ASCII", b64(plain), plain)
add("base64 of UTF-8", b64(utf8), utf8)
add("base64 wrapped in lines of 76", tag(B64, base64.encodebytes(long_body)), long_body)
add("base64 with padding of one", b64(b"ab"), b"ab")
add("base64 with padding of two", b64(b"a"), b"a")
add("text outside the base64 tag is dropped", b"head " + b64(plain) + b" tail", plain)
add("empty base64 content", tag(B64, b""), b"")
add("base64 of an HTML fragment", b64(tag(HTML, fragment)), fragment, html=True)
add("base64 of deflated text", b64(deflated(plain)), plain, inflations=1)
add("base64 of deflated UTF-8", b64(deflated(utf8)), utf8, inflations=1)
add("deflated at level 0 (stored)", b64(deflated(long_body, 0)), long_body, inflations=1)
add("deflated at level 1", b64(deflated(long_body[:200], 1)), long_body[:200], inflations=1)
add("base64 of deflated HTML", b64(deflated(tag(HTML, fragment), 9)), fragment, html=True, inflations=1)
add("deflate tag between other text", b64(b"pre" + deflated(plain) + b"post"), plain, inflations=1)

second = ratio_text(10, 20)
add("inflates in the second buffer", b64(deflated(second, 9)), second, inflations=2)
third = ratio_text(20, 40)
add("inflates in the third buffer", b64(deflated(third, 9)), third, inflations=3)
exact10 = exact_text(10)
add("fills the first buffer exactly", b64(deflated(exact10, 9)), exact10, inflations=1)
exact40 = exact_text(40)
add("fills the third buffer exactly", b64(deflated(exact40, 9)), exact40, inflations=3)
over = exact40 + b"x" * 400
assert len(over) > 40 * len(zlib.compress(over, 9))
add("too large for the third buffer", b64(deflated(over, 9)), None, inflations=3)

add("raw deflate without the zlib header", b64(tag(DEFL, zlib.compressobj(6, zlib.DEFLATED, -15).compress(plain) +
                                                      zlib.compressobj(6, zlib.DEFLATED, -15).flush())), None, inflations=1)
gz = zlib.compressobj(6, zlib.DEFLATED, 31)
add("gzip stream", b64(tag(DEFL, gz.compress(plain) + gz.flush())), None, inflations=1)
good = zlib.compress(utf8 + plain, 9)
add("wrong checksum", b64(tag(DEFL, good[:-1] + bytes([good[-1] ^ 1]))), None, inflations=1)
add("truncated stream", b64(tag(DEFL, good[: len(good) // 2])), None, inflations=1)
add("base64 cut short of a group of four", tag(B64, base64.b64encode(plain)[:-1]), None)
add("base64 with padding in the middle", tag(B64, base64.b64encode(b"a") + base64.b64encode(b"b")), None)

out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "decoding_cases.tsv")
with open(out, "w") as f:
    f.write("# Written by make_decoding_cases.py; do not edit by hand.\n")
    for name, text, expected, html, inflations in cases:
        f.write("\t".join([
            name,
            "-" if expected is None else ("1" if html else "0"),
            str(inflations),
            text.hex(),
            "-" if expected is None else expected.hex(),
        ]) + "\n")
print("%d cases written to %s" % (len(cases), out))

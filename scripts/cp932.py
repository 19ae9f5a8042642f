#!/usr/bin/env python3
"""Prints a C string literal holding the code page 932 bytes of a UTF-8 text,
for the Japanese constants in plugin/texts.h (kept escaped so the compiler's
locale never matters).  Usage: scripts/cp932.py 'テキスト' [...]"""
import sys

for text in sys.argv[1:]:
    data = text.encode("cp932")
    out = []
    for b in data:
        if 0x20 <= b < 0x7f and chr(b) not in '"\\?':
            out.append(chr(b))
        else:
            out.append("\\x%02X" % b)
    # A hex escape swallows following hex digits: split the literal there.
    literal = ""
    prev_hex = False
    for piece in out:
        if prev_hex and piece[0] in "0123456789abcdefABCDEF" and len(piece) == 1:
            literal += '" "'
        literal += piece
        prev_hex = piece.startswith("\\x")
    print('"%s"  // %s' % (literal, text.replace("\n", "\\n")))

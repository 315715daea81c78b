#!/usr/bin/env python3
"""Checks that every public interface defined in the installed headers carries the
export macro, so its type information is the library's own on every platform.

Usage: check_api_macro.py MACRO HEADER...
A class definition "class IZel... {" or "class IZel... : ..." without the macro
fails the check; forward declarations ("class IZelX;") are ignored.
"""
import re
import sys


def main():
    macro, headers = sys.argv[1], sys.argv[2:]
    definition = re.compile(r'^\s*class\s+(?!' + re.escape(macro) + r'\b)(IZel\w+)\s*(?::|\{|$)')
    bad = []
    for h in headers:
        with open(h) as f:
            for n, line in enumerate(f, 1):
                m = definition.match(line)
                if m:
                    bad.append('%s:%d: %s has no %s' % (h, n, m.group(1), macro))
    for b in bad:
        print(b)
    return 1 if bad else 0


if __name__ == '__main__':
    sys.exit(main())

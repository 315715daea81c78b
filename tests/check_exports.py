#!/usr/bin/env python3
"""Checks the dynamic symbols a shared library defines against an allow-list.

Each line of the allow-list is a regular expression over demangled names; a
defined symbol that no line matches fails the check, so nothing internal leaks
out of -fvisibility=hidden by accident. Lines starting with '#' are comments.
"""
import re
import subprocess
import sys


def main():
    nm, lib, allow_file = sys.argv[1:4]
    with open(allow_file) as f:
        patterns = [re.compile(l.strip()) for l in f if l.strip() and not l.startswith('#')]
    out = subprocess.run([nm, '-D', '-C', '--defined-only', lib], check=True,
                         capture_output=True, text=True).stdout
    bad = []
    for line in out.splitlines():
        parts = line.split(' ', 2)
        if len(parts) < 3:
            continue
        kind, name = parts[1], parts[2]
        if kind in 'wWvVU':
            continue
        if not any(p.search(name) for p in patterns):
            bad.append(name)
    if bad:
        print('symbols exported but not on the allow-list of', allow_file)
        for b in bad:
            print('  ', b)
        return 1
    print('exports of', lib, 'match', allow_file)
    return 0


if __name__ == '__main__':
    sys.exit(main())

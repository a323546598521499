#!/usr/bin/python3
"""Prints each file's size against its budget and exits 1 if any is over.

Usage: check_size.py <budget in KiB> <file>...
"""
import os
import sys


def main(budget_kib, paths):
    budget = int(budget_kib) * 1024
    over = False
    for path in paths:
        size = os.path.getsize(path)
        margin = f"{budget - size:,} bytes to spare" if size <= budget else f"{size - budget:,} bytes OVER"
        print(f"{path}: {size:,} bytes ({size / 1024:.1f} KiB) of {budget_kib} KiB ({budget:,} bytes): {margin}")
        over = over or size > budget
    return 1 if over else 0


if __name__ == "__main__":
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    sys.exit(main(sys.argv[1], sys.argv[2:]))

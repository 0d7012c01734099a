#!/usr/bin/env python3
"""Writes the code-point range tables behind src/core/unicode_properties.hpp.

The tables are committed (src/core/unicode_tables.cpp), so that the build
stands on any system whatever Unicode data it has. This script writes them
from the Unicode Character Database of the one pinned version; a database
file of any other version is refused, so the tables change only when the pin
below does. With --check it writes nothing and says whether the committed
file is what the database gives, and skips with a note where the pinned
database is absent. Python's standard library only.

Usage: tools/unicode_tables.py [--check] [--data-dir DIR]
"""

import argparse
import sys
from pathlib import Path

UNICODE_VERSION = "15.0.0"
# Debian's unicode-data; --data-dir names another copy.
DEFAULT_DATA_DIR = Path("/usr/share/unicode")
TABLES_SOURCE = Path(__file__).resolve().parent.parent / "src/core/unicode_tables.cpp"
# (file in the database, what is read from it)
DATABASE_FILES = {
    "derived_core_properties": "DerivedCoreProperties.txt",
    "general_category": "extracted/DerivedGeneralCategory.txt",
}

CODE_POINTS = 0x110000

# General categories shown escaped in messages: controls, formats, surrogates,
# private use, unassigned, and separators (the ASCII space is let through).
ESCAPED_CATEGORIES = {"Cc", "Cf", "Cs", "Co", "Cn", "Zl", "Zp", "Zs"}
NUMERIC_CATEGORIES = {"Nd", "Nl", "No"}


class VersionMismatch(Exception):
    pass


def read_records(path, version):
    """Yields (first, last, value) for each data line of a UCD file, after
    checking that its first line names the file and the pinned version."""
    lines = path.read_text(encoding="utf-8").splitlines()
    expected = f"# {path.stem}-{version}.txt"
    if not lines or lines[0].strip() != expected:
        found = lines[0].strip() if lines else "an empty file"
        raise VersionMismatch(
            f"{path} starts with {found!r}, not {expected!r}: "
            f"the build is pinned to Unicode {version}"
        )
    for line in lines:
        data = line.split("#", 1)[0].strip()
        if not data:
            continue
        code_points, value = (field.strip() for field in data.split(";")[:2])
        first, _, last = code_points.partition("..")
        yield int(first, 16), int(last or first, 16), value


def code_points_with(path, version, value):
    return {
        code_point
        for first, last, record_value in read_records(path, version)
        if record_value == value
        for code_point in range(first, last + 1)
    }


def general_categories(path, version):
    """The category of every code point; those the file leaves out are
    unassigned (Cn), as are those it lists as such."""
    categories = ["Cn"] * CODE_POINTS
    for first, last, category in read_records(path, version):
        categories[first : last + 1] = [category] * (last + 1 - first)
    return categories


def ranges(code_points):
    """Sorted, disjoint, non-adjacent [first, last] ranges covering the set."""
    result = []
    for code_point in sorted(code_points):
        if result and result[-1][1] + 1 == code_point:
            result[-1][1] = code_point
        else:
            result.append([code_point, code_point])
    return result


def array_definition(name, table_ranges):
    pairs = [f"{{0x{first:04X}, 0x{last:04X}}}," for first, last in table_ranges]
    rows = ["    " + " ".join(pairs[start : start + 4]) for start in range(0, len(pairs), 4)]
    return "\n".join([f"constexpr CodePointRange {name}Ranges[] = {{", *rows, "};"])


def source_text(version, tables):
    major, minor, update = version.split(".")
    return "\n".join(
        [
            f"// Written by tools/unicode_tables.py from the Unicode Character Database {version};",
            "// committed, and checked against the database by the test command. Never edited.",
            '#include "core/unicode_tables.hpp"',
            "",
            "namespace quillbox::unicode_tables {",
            "namespace {",
            "",
            *(array_definition(name, table_ranges) + "\n" for name, table_ranges in tables),
            "}  // namespace",
            "",
            f"constinit const UnicodeVersion kVersion = {{{major}, {minor}, {update}}};",
            *(
                f"constinit const std::span<const CodePointRange> {name} = {name}Ranges;"
                for name, _ in tables
            ),
            "",
            "}  // namespace quillbox::unicode_tables",
            "",
        ]
    )


def tables_source(data_dir, version):
    """The C++ source of the tables, from the database in `data_dir`."""
    files = {name: data_dir / relative for name, relative in DATABASE_FILES.items()}
    grapheme_extend = code_points_with(files["derived_core_properties"], version, "Grapheme_Extend")
    alphabetic = code_points_with(files["derived_core_properties"], version, "Alphabetic")
    categories = general_categories(files["general_category"], version)

    escaped = {cp for cp, category in enumerate(categories) if category in ESCAPED_CATEGORIES}
    numeric = {cp for cp, category in enumerate(categories) if category in NUMERIC_CATEGORIES}
    tables = [
        ("kNeedsEscapeInMessage", ranges((escaped | grapheme_extend) - {ord(" ")})),
        ("kAlphabetic", ranges(alphabetic)),
        ("kNumeric", ranges(numeric)),
    ]
    return source_text(version, tables)


def check(data_dir):
    """0 when the committed tables are what the database gives, 1 when not;
    0 with a note when there is no database of the pinned version to check
    against."""
    missing = [name for name in DATABASE_FILES.values() if not (data_dir / name).is_file()]
    if missing:
        print(
            f"unicode tables: not checked, the Unicode {UNICODE_VERSION} database is not "
            f"in {data_dir} (Debian: unicode-data; or --data-dir)"
        )
        return 0
    try:
        regenerated = tables_source(data_dir, UNICODE_VERSION)
    except VersionMismatch as mismatch:
        print(f"unicode tables: not checked, {mismatch}")
        return 0
    if TABLES_SOURCE.read_text(encoding="utf-8") != regenerated:
        print(
            f"unicode tables: {TABLES_SOURCE} differs from what {data_dir} gives: "
            "run tools/unicode_tables.py and commit the result",
            file=sys.stderr,
        )
        return 1
    print(f"unicode tables: the committed tables match the Unicode {UNICODE_VERSION} database")
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument(
        "--data-dir",
        type=Path,
        default=DEFAULT_DATA_DIR,
        help=f"the Unicode Character Database {UNICODE_VERSION} (default: %(default)s)",
    )
    parser.add_argument(
        "--check",
        action="store_true",
        help="compare the committed tables with the database instead of writing them",
    )
    args = parser.parse_args()
    if args.check:
        sys.exit(check(args.data_dir))
    try:
        TABLES_SOURCE.write_text(tables_source(args.data_dir, UNICODE_VERSION), encoding="utf-8")
    except VersionMismatch as mismatch:
        sys.exit(f"unicode_tables.py: {mismatch}")


if __name__ == "__main__":
    main()

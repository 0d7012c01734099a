#!/usr/bin/env python3
"""Writes the code-point range tables behind src/core/unicode_properties.hpp.

The build runs this on the Unicode Character Database files of one pinned
Unicode version (CMakeLists.txt) and compiles what it writes into the core
layer. A file of any other version is refused, so the tables never change
under the product with the system's copy of the database. Python's standard
library only: the build needs nothing more than an interpreter.
"""

import argparse
import sys
from pathlib import Path

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
            f"// Written by tools/unicode_tables.py from the Unicode Character Database {version}.",
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


def write_tables(args):
    version = args.unicode_version
    derived_core = Path(args.derived_core_properties)
    grapheme_extend = code_points_with(derived_core, version, "Grapheme_Extend")
    alphabetic = code_points_with(derived_core, version, "Alphabetic")
    white_space = code_points_with(Path(args.prop_list), version, "White_Space")
    categories = general_categories(Path(args.general_category), version)

    escaped = {cp for cp, category in enumerate(categories) if category in ESCAPED_CATEGORIES}
    numeric = {cp for cp, category in enumerate(categories) if category in NUMERIC_CATEGORIES}
    tables = [
        ("kNeedsEscapeInMessage", ranges((escaped | grapheme_extend) - {ord(" ")})),
        ("kAlphabetic", ranges(alphabetic)),
        ("kNumeric", ranges(numeric)),
        ("kWhiteSpace", ranges(white_space)),
    ]
    Path(args.output).write_text(source_text(version, tables), encoding="utf-8")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument(
        "--unicode-version",
        required=True,
        help="the pinned version, as MAJOR.MINOR.UPDATE (e.g. 15.0.0)",
    )
    parser.add_argument(
        "--derived-core-properties",
        required=True,
        help="DerivedCoreProperties.txt (Alphabetic, Grapheme_Extend)",
    )
    parser.add_argument("--prop-list", required=True, help="PropList.txt (White_Space)")
    parser.add_argument(
        "--general-category", required=True, help="extracted/DerivedGeneralCategory.txt"
    )
    parser.add_argument("--output", required=True, help="the C++ source to write")
    args = parser.parse_args()
    try:
        write_tables(args)
    except VersionMismatch as mismatch:
        sys.exit(f"unicode_tables.py: {mismatch}")


if __name__ == "__main__":
    main()

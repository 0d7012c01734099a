"""The fenced blocks of a Markdown text, each named after the heading, or the
paragraph's bold title (`**Arguments.**`), it stands under. A block right after
a line `<!-- not run: REASON -->` is not an example of use (it builds or tests
the project itself) and is not run. A block whose first line is a comment that
names a file (`# deploy.env`) shows that file, which other blocks use."""

from __future__ import annotations

import re
from dataclasses import dataclass

NOT_RUN = re.compile(r"<!-- not run: (?P<reason>.*?) -->")
FENCE = "```"
BOLD_TITLE = re.compile(r"\*\*(?P<title>[^*]+)\.\*\*")
FILE_NAME = re.compile(r"# (?P<name>[\w-]*\.[\w.-]+)")


@dataclass(frozen=True)
class Block:
    name: str  # the heading's slug and the block's number under it: "using-it-2"
    language: str
    text: str
    line: int  # where its opening fence is, counted from 1
    not_run: str | None  # why it is not run; None for an example that is

    @property
    def file_name(self) -> str | None:
        """The name of the file the block shows, if it shows one."""
        named = FILE_NAME.fullmatch(self.text.partition("\n")[0])
        return named["name"] if named else None


def slug(heading: str) -> str:
    return re.sub(r"[^a-z0-9]+", "-", heading.lower()).strip("-")


def blocks_of(markdown: str) -> list[Block]:
    blocks: list[Block] = []
    lines = markdown.splitlines()
    heading = "top"
    under_heading = 0
    index = 0
    while index < len(lines):
        line = lines[index]
        title = BOLD_TITLE.match(line)
        if line.startswith("#") or title:
            heading = slug(title["title"] if title else line.lstrip("#"))
            under_heading = 0
        elif line.startswith(FENCE):
            end = lines.index(FENCE, index + 1)
            marker = NOT_RUN.fullmatch(lines[index - 1].strip()) if index else None
            under_heading += 1
            blocks.append(
                Block(
                    name=f"{heading}-{under_heading}",
                    language=line[len(FENCE) :].strip(),
                    text="\n".join(lines[index + 1 : end]) + "\n",
                    line=index + 1,
                    not_run=marker["reason"] if marker else None,
                )
            )
            index = end
        index += 1
    return blocks

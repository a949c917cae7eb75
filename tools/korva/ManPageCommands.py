#!/usr/bin/env python3
"""Writes the COMMANDS section of korva's manual page, for help2man's
--include: every command's own --help (usage, description, options), in the
order korva --help lists them. The page says what the tool says.

    ManPageCommands.py KORVA OUTPUT
"""
import re
import subprocess
import sys


def roff(text):
    lines = []
    for line in text.replace("\\", "\\e").split("\n"):
        lines.append("\\&" + line if line.startswith((".", "'")) else line)
    return "\n".join(lines)


def helpOf(tool, *args):
    return subprocess.run([tool, *args, "--help"], check=True, capture_output=True, text=True).stdout


def commandNames(tool):
    names, listing = [], False
    for line in helpOf(tool).splitlines():
        if line == "Commands:":
            listing = True
        elif listing and not line.strip():
            break
        elif listing:
            names.append(line.split()[0])
    return names


def section(tool, name):
    paragraphs = helpOf(tool, name).rstrip("\n").split("\n\n")
    usage = paragraphs[0].removeprefix("Usage: ")
    out = ['.SS "%s"' % roff(usage).replace('"', '\\(dq')]
    for paragraph in paragraphs[1:]:
        if paragraph.startswith("Options:"):
            for line in paragraph.splitlines()[1:]:
                match = re.match(r"^\s+(\S.*?)\s{2,}(\S.*)$", line)
                if match:
                    out += [".TP", ".B " + roff(match.group(1).strip()), roff(match.group(2))]
        else:
            out += [".PP", roff(paragraph)]
    return "\n".join(out)


def main():
    tool, output = sys.argv[1], sys.argv[2]
    text = "[COMMANDS]\n" + "\n".join(section(tool, name) for name in commandNames(tool)) + "\n"
    with open(output, "w", encoding="utf-8") as file:
        file.write(text)


if __name__ == "__main__":
    main()

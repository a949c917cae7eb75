#!/usr/bin/python3
"""Turns the user's manual (Markdown in docs/manual) into its PDF.

    build-manual.py SOURCE.md STYLE.css OUTPUT.pdf

Images are taken relative to the Markdown file's folder.
"""
import sys
from pathlib import Path

import markdown
import weasyprint


def main() -> int:
    if len(sys.argv) != 4:
        print(__doc__, file=sys.stderr)
        return 2
    source, style, output = (Path(a) for a in sys.argv[1:])
    body = markdown.markdown(source.read_text(encoding="utf-8"), extensions=["tables", "sane_lists"])
    html = ("<!DOCTYPE html><html lang=\"en\"><head><meta charset=\"utf-8\">"
            "<title>KORVA Manager User's Manual</title></head><body>" + body + "</body></html>")
    output.parent.mkdir(parents=True, exist_ok=True)
    partial = output.with_name(output.name + ".part")
    weasyprint.HTML(string=html, base_url=str(source.parent)).write_pdf(
        str(partial), stylesheets=[weasyprint.CSS(filename=str(style))])
    partial.replace(output)
    return 0


if __name__ == "__main__":
    sys.exit(main())

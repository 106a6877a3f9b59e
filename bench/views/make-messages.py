#!/usr/bin/python3
"""Writes the two messages the reading benchmark opens: a 6 KB plain text
message and a 200 KB HTML newsletter (tables, inline styles, links, a cid:
picture and pictures from other sites), into the directory given."""
import os
import sys

out = sys.argv[1]

text_lines = []
n = 0
while sum(len(l) + 2 for l in text_lines) < 6 * 1024:
    n += 1
    text_lines.append(f"Paragraph {n}: the quarterly figures are attached, see https://example.org/q{n} "
                      f"or write to finance{n}@example.org.  Thanks.")
with open(os.path.join(out, "text6k.eml"), "w", newline="") as f:
    f.write("From: Ann Lee <ann@example.org>\r\nTo: bench@example.org\r\nSubject: Six kilobytes of text\r\n"
            "Date: Mon, 04 Dec 2023 10:00:00 +0000\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n")
    f.write("\r\n".join(text_lines) + "\r\n")

rows = []
i = 0
while sum(len(r) for r in rows) < 200 * 1024:
    i += 1
    rows.append(
        f'<tr><td style="padding: 12px; border-bottom: 1px solid #e0e0e0; font-family: Arial, sans-serif">'
        f'<h2 style="color: #1c5bb8; font-size: 18px; margin: 0 0 6px">Story {i}: news of the week</h2>'
        f'<p style="color: #333333; line-height: 1.5">Lorem ipsum dolor sit amet, <b>consectetur</b> adipiscing '
        f'elit, sed do eiusmod tempor <i>incididunt</i> ut labore et dolore magna aliqua. '
        f'<a href="https://example.org/story/{i}?utm_source=mail">Read more</a></p>'
        f'<img src="https://img.example.invalid/story{i}.jpg" width="560" height="120" alt="Story {i}">'
        f'</td></tr>\r\n')
html = ("<!DOCTYPE html><html><head><meta charset=\"utf-8\"><style>body{margin:0}</style></head>"
        "<body style=\"background:#f4f4f4\"><table width=\"600\" align=\"center\" cellpadding=\"0\" "
        "cellspacing=\"0\" style=\"background:#ffffff\"><tr><td><img src=\"cid:logo@example.org\" alt=\"Logo\">"
        "</td></tr>\r\n" + "".join(rows) + "</table></body></html>\r\n")
with open(os.path.join(out, "html200k.eml"), "w", newline="") as f:
    f.write("From: \"Newsletter\" <news@example.org>\r\nTo: bench@example.org\r\nSubject: Two hundred kilobytes "
            "of HTML\r\nDate: Tue, 05 Dec 2023 10:00:00 +0000\r\nMIME-Version: 1.0\r\n"
            "Content-Type: text/html; charset=utf-8\r\n\r\n")
    f.write(html)

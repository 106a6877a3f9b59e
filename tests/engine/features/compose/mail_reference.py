"""Reads messages with Python's email package and compares them with what
the test wrote beside each: <n>.eml and <n>.expect.json in a directory.
A message is read as built (lines end in LF) or as an SMTP server
received it (every line in CR LF).

Prints one line per message: "<n> OK" or "<n> FAIL <what differs>".
"""
import email
import email.policy
import json
import sys


def addresses(msg, name):
    header = msg[name]
    if header is None:
        return []
    return [[a.display_name, a.addr_spec] for a in header.addresses]


def check(directory, n):
    base = f"{directory}/{n}"
    with open(base + ".eml", "rb") as f:
        raw = f.read()
    with open(base + ".expect.json", encoding="utf-8") as f:
        want = json.load(f)
    problems = []
    if b"\r\n" in raw:
        # As it travelled: every line ends in CR LF, none in a bare CR or LF.
        rest = raw.replace(b"\r\n", b"")
        if b"\r" in rest or b"\n" in rest:
            problems.append("a bare CR or LF on the wire")
        raw = raw.replace(b"\r\n", b"\n")
    msg = email.message_from_bytes(raw, policy=email.policy.default)
    for name in ("from", "to", "cc"):
        got = addresses(msg, name)
        if got != want[name]:
            problems.append(f"{name}: got {got!r}, want {want[name]!r}")
    subject = msg["subject"]
    subject = "" if subject is None else str(subject)
    if subject != want["subject"]:
        problems.append(f"subject: got {subject!r}, want {want['subject']!r}")
    if msg["bcc"] is not None:
        problems.append("a Bcc header was sent")
    body = msg.get_body(("plain",))
    text = "" if body is None else body.get_content()
    if text != want["body"]:
        at = next((i for i, (a, b) in enumerate(zip(text, want["body"])) if a != b),
                  min(len(text), len(want["body"])))
        problems.append(f"body differs at {at}: got {text[max(0, at - 40):at + 40]!r}, "
                        f"want {want['body'][max(0, at - 40):at + 40]!r}")
    got_attachments = list(msg.iter_attachments())
    if len(got_attachments) != len(want["attachments"]):
        problems.append(f"{len(got_attachments)} attachments, want {len(want['attachments'])}")
    for part, (name, path, content_type) in zip(got_attachments, want["attachments"]):
        with open(path, "rb") as f:
            data = f.read()
        if part.get_filename() != name:
            problems.append(f"attachment name: got {part.get_filename()!r}, want {name!r}")
        if part.get_content_type() != content_type:
            problems.append(f"attachment type: got {part.get_content_type()}, want {content_type}")
        if part.get_payload(decode=True) != data:
            problems.append(f"attachment {name!r}: bytes differ")
    for part in msg.walk():
        for defect in part.defects:
            problems.append(f"defect {type(defect).__name__}")
    for line in raw.split(b"\n"):
        if len(line.rstrip(b"\r")) > 998:
            problems.append("a line longer than 998 bytes")
            break
    return problems


def main():
    directory, count = sys.argv[1], int(sys.argv[2])
    for n in range(count):
        try:
            problems = check(directory, n)
        except Exception as e:  # a message Python cannot read at all
            problems = [f"{type(e).__name__}: {e}"]
        print(f"{n} OK" if not problems else f"{n} FAIL " + "; ".join(problems))


if __name__ == "__main__":
    main()

#!/usr/bin/python3
"""Compares the part list our receiver made of a message with the leaf parts
Python's email package finds in the same message.

usage: corpus_compare.py MESSAGE MANIFEST

MANIFEST has one line per part of ours: content type, file name ("" for the
body of a message without parts) and the path of a file holding the part's
decoded bytes, separated by tabs. Prints one line per difference:
    count ours=N python=M
    type I ours=X python=Y
    name I ours=X python=Y
    bytes I
and nothing when both agree.
"""
import email
import email.policy
import sys


def leaves(message):
    found = []

    def walk(part):
        payload = part.get_payload()
        # A message/rfc822 part is one part to us: we never look inside.
        if part.is_multipart() and not part.get_content_maintype() == "message":
            for sub in payload:
                walk(sub)
        else:
            found.append(part)

    walk(message)
    return found


def normalized(data, binary):
    if binary:
        return data
    return data.replace(b"\r\n", b"\n").rstrip(b"\n")


def main():
    with open(sys.argv[1], "rb") as f:
        message = email.message_from_binary_file(f, policy=email.policy.compat32)
    ours = []
    with open(sys.argv[2], "rb") as f:
        for line in f.read().decode("utf-8", "replace").splitlines():
            ctype, name, path = line.split("\t")
            ours.append((ctype, name, path))
    theirs = leaves(message)
    if len(ours) != len(theirs):
        print(f"count ours={len(ours)} python={len(theirs)}")
    for i, ((ctype, name, path), part) in enumerate(zip(ours, theirs), 1):
        if ctype.lower() != part.get_content_type():
            print(f"type {i} ours={ctype} python={part.get_content_type()}")
        their_name = part.get_filename()
        if their_name is not None:
            their_name = str(their_name)
            cut = their_name.encode("utf-8", "surrogateescape")[:79].decode("utf-8", "ignore")
            if name != cut:
                print(f"name {i} ours={name} python={their_name}")
        elif name and not name.startswith("ATT"):
            print(f"name {i} ours={name} python=None")
        if part.get_content_maintype() == "message" or part.is_multipart():
            continue
        with open(path, "rb") as f:
            mine = f.read()
        data = part.get_payload(decode=True) or b""
        binary = (part.get("Content-Transfer-Encoding", "").strip().lower() == "base64"
                  and part.get_content_maintype() != "text")
        if normalized(mine, binary) != normalized(data, binary):
            print(f"bytes {i}")


main()

#!/usr/bin/python3
"""Reference results from Python's email package, for comparison with ours.

  python_reference.py corpus DIR   headers, dates, boundaries and the leaf
                                   parts of DIR/msg_*.txt, raw and decoded
  python_reference.py words        headers encoded by Python's encoder

One record per line, fields separated by blanks, every field base64, so
any byte survives the trip.
"""
import base64
import email
import email.charset
import email.header
import email.utils
import glob
import os
import sys


def b64(data):
    if isinstance(data, str):
        data = data.encode("utf-8", "surrogateescape")
    return base64.b64encode(data).decode("ascii") or "-"


def emit(tag, *fields):
    print(tag, *[b64(f) for f in fields])


def decoded_header(value):
    if isinstance(value, email.header.Header):
        return None
    try:
        return str(email.header.make_header(email.header.decode_header(value)))
    except Exception:
        return None


def corpus(directory):
    for path in sorted(glob.glob(os.path.join(directory, "msg_*.txt"))):
        with open(path, "rb") as f:
            msg = email.message_from_binary_file(f)
        emit("FILE", os.path.basename(path))
        for name, value in msg.items():
            text = decoded_header(value)
            if text is not None:
                emit("HDR", name, text)
        date = msg["Date"]
        if date is not None:
            parsed = email.utils.parsedate_tz(str(date))
            if parsed is not None:
                emit("DATE", str(date), str(email.utils.mktime_tz(parsed)))
        for part in msg.walk():
            content_type = part.get("Content-Type")
            if part.is_multipart():
                boundary = part.get_boundary()
                if content_type is not None and boundary is not None:
                    emit("BOUNDARY", str(content_type), boundary)
                continue
            payload = part.get_payload(decode=False)
            if not isinstance(payload, str):
                continue
            raw = payload.encode("ascii", "surrogateescape")
            decoded = part.get_payload(decode=True) or b""
            emit("PART", str(part.get("Content-Transfer-Encoding", "")), str(content_type or ""),
                 str(part.get("Content-Disposition", "")), part.get_content_type(), part.get_filename() or "",
                 raw, decoded)


TEXTS = {
    "utf-8": "Grüße, 日本語のテキスト, Привет мир, ελληνικά",
    "iso-8859-1": "Grüße und Straße und Äpfel, café",
    "iso-8859-15": "Preis: 20 € für Œuvre",
    "windows-1251": "Привет мир, это тема письма",
    "koi8-r": "Привет мир, это тема письма",
    "iso-8859-7": "Καλημέρα κόσμε",
    "iso-2022-jp": "日本語のテキストです、よろしく",
    "shift_jis": "日本語のテキストです、よろしく",
    "euc-jp": "日本語のテキストです、よろしく",
    "gb2312": "中文邮件的主题行",
    "big5": "中文郵件的主題",
    "euc-kr": "한국어 메일 제목입니다",
}


def words():
    for charset, text in TEXTS.items():
        for maxlinelen in (76, 40, 20):
            header = email.header.Header(text, charset, maxlinelen=maxlinelen, header_name="Subject")
            emit("WORD", text, header.encode())
        if charset in ("utf-8", "iso-8859-1"):
            for encoding in (email.charset.QP, email.charset.BASE64):
                cs = email.charset.Charset(charset)
                cs.header_encoding = encoding
                header = email.header.Header(text, cs, maxlinelen=30, header_name="Subject")
                emit("WORD", text, header.encode())


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "corpus":
        corpus(sys.argv[2])
    elif len(sys.argv) == 2 and sys.argv[1] == "words":
        words()
    else:
        sys.exit("usage: python_reference.py corpus DIR | words")

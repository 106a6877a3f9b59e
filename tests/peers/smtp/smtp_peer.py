"""A real SMTP server (aiosmtpd) for Corvane's tests, on 127.0.0.1.

    smtp_peer.py --dir DIR --port PORT [--size BYTES] [--tls none|starttls|implicit
                 --cert PEM --key PEM] [--login USER:PASSWORD]

Every accepted message is kept byte for byte as the server received it
(after dot-unstuffing) in DIR/NNNN.eml, its envelope in DIR/NNNN.json; a
message is renamed into place whole, so a test never reads half a file.
Faults on demand, chosen by the client:
  - EHLO or HELO "bad.example": 550;
  - EHLO "noehlo.example": 502 (HELO works), like a relay without ESMTP;
  - a recipient whose local part begins with "reject": 550;
  - a message larger than --size: 552 (aiosmtpd's own limit).
With --login, AUTH PLAIN and LOGIN are offered (after STARTTLS) and
required. Runs until SIGTERM.
"""
import argparse
import itertools
import json
import os
import signal
import ssl
import threading

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult, LoginPassword


class Capture:
    def __init__(self, directory):
        self.directory = directory
        self.numbers = itertools.count(1)

    async def handle_EHLO(self, server, session, envelope, hostname, responses):
        if hostname == "bad.example":
            return ["550 5.7.1 EHLO refused for this test"]
        if hostname == "noehlo.example":
            return ["502 5.5.1 EHLO not implemented"]
        session.host_name = hostname
        return responses

    async def handle_HELO(self, server, session, envelope, hostname):
        if hostname == "bad.example":
            return "550 5.7.1 HELO refused for this test"
        session.host_name = hostname
        return "250 {}".format(server.hostname)

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address.split("@")[0].lower().startswith("reject"):
            return "550 5.1.1 <{}>: recipient refused for this test".format(address)
        envelope.rcpt_tos.append(address)
        return "250 2.1.5 OK"

    async def handle_DATA(self, server, session, envelope):
        n = next(self.numbers)
        base = os.path.join(self.directory, "%04d" % n)
        with open(base + ".json", "w") as f:
            json.dump({"helo": session.host_name, "mail_from": envelope.mail_from,
                       "mail_options": envelope.mail_options, "rcpt_tos": envelope.rcpt_tos,
                       "tls": (session.ssl is not None
                               or server.transport.get_extra_info("ssl_object") is not None),
                       "login": (session.login_data.decode() if session.login_data else None)}, f)
        with open(base + ".part", "wb") as f:
            f.write(envelope.original_content)
        os.rename(base + ".part", base + ".eml")
        return "250 2.0.0 queued as %04d" % n


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--dir", required=True)
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--size", type=int, default=64 << 20)
    parser.add_argument("--tls", choices=["none", "starttls", "implicit"], default="none")
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--login")
    args = parser.parse_args()

    kwargs = {"data_size_limit": args.size, "server_hostname": "peer.test", "ready_timeout": 10}
    if args.tls != "none":
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(args.cert, args.key)
        if args.tls == "starttls":
            kwargs["tls_context"] = context
            kwargs["require_starttls"] = True
        else:
            kwargs["ssl_context"] = context
    if args.login:
        user, password = args.login.split(":", 1)

        def authenticator(server, session, envelope, mechanism, auth_data):
            ok = (isinstance(auth_data, LoginPassword) and auth_data.login == user.encode()
                  and auth_data.password == password.encode())
            # handled=False: the server itself answers 535 to a failure.
            return AuthResult(success=ok, handled=False, auth_data=auth_data if ok else None)

        kwargs["authenticator"] = authenticator
        kwargs["auth_required"] = True
        # aiosmtpd counts only STARTTLS as TLS; TLS from the first byte is too.
        kwargs["auth_require_tls"] = args.tls == "starttls"

    os.makedirs(args.dir, exist_ok=True)
    controller = Controller(Capture(args.dir), hostname="127.0.0.1", port=args.port, **kwargs)
    controller.start()
    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    signal.signal(signal.SIGINT, lambda *_: stop.set())
    stop.wait()
    controller.stop()


if __name__ == "__main__":
    main()

#!/usr/bin/python3
"""An SMTP server for the mail tests: aiosmtpd on 127.0.0.1, with each received message parsed by
Python's email package and written down for the test to read.

    smtpserver.py PORT OUTDIR [MODE...]

Modes: split-greeting (a multi-line greeting in several packets), silent (never greets),
refuse-helo, refuse-rcpt (refuses addresses that begin with "nobody"), slow-data (never answers
the end of DATA), slow-replies (each reply comes 0.3 s late). Addresses that begin with "moved" are taken with 251; each QUIT adds a line to
OUTDIR/quit.log.

Each message becomes OUTDIR/mail-N.txt, one "key: value" line each, values as JSON strings:
mail_from, rcpt (one line per recipient), header NAME (the decoded value, for From, To, Cc,
Subject, X-Mailer, Bcc), charset, body (the decoded text), attachment_name, attachment_type and
attachment (its decoded content; bytes as Latin-1), longest_line (of the raw message), and dot_lines
(raw lines that begin with '.' after the server's unstuffing).
"""
import asyncio
import email
import email.policy
import json
import os
import sys

from aiosmtpd.smtp import SMTP

modes = set(sys.argv[3:])
outdir = sys.argv[2]


class Handler:
    count = 0

    async def handle_HELO(self, server, session, envelope, hostname):
        if "refuse-helo" in modes:
            return "550 5.7.1 no mail from you"
        session.host_name = hostname
        return "250 test.example"

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if "refuse-rcpt" in modes and address.startswith("nobody"):
            return "550 5.1.1 <%s>: no such user here" % address
        envelope.rcpt_tos.append(address)
        if address.startswith("moved"):
            return "251 2.1.5 User not local; will forward"
        return "250 OK"

    async def handle_QUIT(self, server, session, envelope):
        with open(os.path.join(outdir, "quit.log"), "a") as f:
            f.write("QUIT\n")
        return "221 Bye"

    async def handle_DATA(self, server, session, envelope):
        if "slow-data" in modes:
            await asyncio.sleep(3600)
        raw = envelope.original_content or envelope.content
        msg = email.message_from_bytes(raw, policy=email.policy.default)
        lines = ["mail_from: " + json.dumps(envelope.mail_from)]
        lines += ["rcpt: " + json.dumps(r) for r in envelope.rcpt_tos]
        for name in ("From", "To", "Cc", "Subject", "X-Mailer", "Bcc", "Mime-Version", "Date"):
            if msg[name] is not None:
                lines.append("header %s: %s" % (name, json.dumps(str(msg[name]))))
        body = msg.get_body(preferencelist=("plain",))
        if body is not None:
            lines.append("charset: " + json.dumps(body.get_content_charset()))
            lines.append("body: " + json.dumps(body.get_content()))
        for part in msg.iter_attachments():
            content = part.get_content()
            if isinstance(content, bytes):
                content = content.decode("latin-1")
            lines.append("attachment_name: " + json.dumps(part.get_filename()))
            lines.append("attachment_type: " + json.dumps(part.get_content_type()))
            lines.append("attachment: " + json.dumps(content))
        raw_lines = raw.split(b"\r\n")
        lines.append("longest_line: %d" % max(len(l) for l in raw_lines))
        lines.append("dot_lines: %d" % sum(1 for l in raw_lines if l.startswith(b".")))
        Handler.count += 1
        path = os.path.join(outdir, "mail-%d.txt" % Handler.count)
        with open(path + ".part", "w") as f:
            f.write("\n".join(lines) + "\n")
        os.rename(path + ".part", path)
        return "250 Message accepted for delivery"


class TestSMTP(SMTP):
    greeted = False

    async def push(self, status):
        if "slow-replies" in modes:
            await asyncio.sleep(0.3)
        if not self.greeted and isinstance(status, str) and status.startswith("220 "):
            self.greeted = True
            if "silent" in modes:
                await asyncio.sleep(3600)
            if "split-greeting" in modes:
                for piece in (b"220-test.example", b" ESMTP test server\r\n220-the greeting goes on",
                              b"\r\n220 ready\r\n"):
                    self._writer.write(piece)
                    await self._writer.drain()
                    await asyncio.sleep(0.15)
                return
        await super().push(status)


def main():
    loop = asyncio.new_event_loop()
    asyncio.set_event_loop(loop)
    handler = Handler()
    server = loop.run_until_complete(
        loop.create_server(lambda: TestSMTP(handler, hostname="test.example"), "127.0.0.1", int(sys.argv[1])))
    try:
        loop.run_forever()
    finally:
        server.close()


if __name__ == "__main__":
    main()

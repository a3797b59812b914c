#!/usr/bin/python3
"""A scripted quote server of the fxp/1.1 protocol for the tests.

    fxpserver.py PORT SCRIPT LOG      serves TCP on 127.0.0.1:PORT
    fxp.cgi (imports this, calls cgi) answers one query per HTTP POST

SCRIPT is a JSON object that maps a query to its reply: "currencies" for the currency list,
a currency code for its quote, "*" for any other code. A reply is the raw text to send, or an
object {"text": ..., "then": "close" | "silent" | "endless" | "endless-lines" | "drip"} that sends
the text and then closes the connection, sends nothing more, sends bytes without a line end for
ever, sends header lines for ever, or sends one byte every 0.1 s for ever. Every query received is appended to LOG as one line
("currencies" or the code), before the reply goes out.
"""
import asyncio
import json
import os
import sys


def query_key(block):
    """The key of one query block (its lines without the empty line that ends it)."""
    for line in block:
        name, _, value = line.partition(":")
        name = name.strip().lower()
        if name == "query":
            return value.strip()
        if name == "basecurrency":
            return value.strip()
    return "?"


def reply_for(script, key):
    reply = script.get(key, script.get("*") if key != "currencies" else None)
    if reply is None:
        reply = "fxp/1.1 404 unknown query\r\ncontent-lines: 0\r\n\r\n\r\n"
    if isinstance(reply, str):
        return reply, None
    return reply.get("text", ""), reply.get("then")


def log_query(path, key):
    with open(path, "a") as f:
        f.write(key + "\n")


async def serve(port, script, log):
    async def client(reader, writer):
        try:
            block = []
            while True:
                raw = await reader.readline()
                if not raw:
                    break
                line = raw.decode("latin-1").rstrip("\r\n")
                if line:
                    block.append(line)
                    continue
                if not block:
                    continue
                key = query_key(block)
                block = []
                log_query(log, key)
                text, then = reply_for(script, key)
                writer.write(text.encode("latin-1"))
                await writer.drain()
                if then == "close":
                    break
                if then == "silent":
                    await asyncio.sleep(3600)
                if then in ("endless", "endless-lines"):
                    chunk = b"x" * 65536 if then == "endless" else b"x-pad: y\r\n" * 6000
                    while True:
                        writer.write(chunk)
                        await writer.drain()
                if then == "drip":
                    while True:
                        writer.write(b"x")
                        await writer.drain()
                        await asyncio.sleep(0.1)
        except (ConnectionError, asyncio.CancelledError):
            pass
        finally:
            writer.close()

    server = await asyncio.start_server(client, "127.0.0.1", port)
    async with server:
        await server.serve_forever()


def cgi(script_path, log):
    """One POST: the query is the body, the reply the page."""
    with open(script_path) as f:
        script = json.load(f)
    length = int(os.environ.get("CONTENT_LENGTH") or 0)
    body = sys.stdin.buffer.read(length).decode("latin-1")
    key = query_key([l for l in body.split("\r\n") if l])
    log_query(log, key)
    text, _ = reply_for(script, key)
    out = sys.stdout.buffer
    out.write(b"Content-Type: text/plain\r\n\r\n")
    out.write(text.encode("latin-1"))
    out.flush()


if __name__ == "__main__":
    with open(sys.argv[2]) as f:
        loaded = json.load(f)
    try:
        asyncio.run(serve(int(sys.argv[1]), loaded, sys.argv[3]))
    except KeyboardInterrupt:
        pass

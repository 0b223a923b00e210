"""The launcher link between two processes: marrowgate-listen and a
stand-in patcher (launcher-sender) that sends its records through
ParentLink. Under Wine the link is the listener's window and WM_COPYDATA;
on Linux a local socket.

    run_launcher_link.py EMULATOR LISTEN SENDER

EMULATOR is the program that runs the two (wine), or "" for none.
"""
import os
import subprocess
import sys
import tempfile
import time

RUN_LINES = [
    "message 300 answered",
    "progress 0",
    "progress 50",
    "message 262 Update failed (-10100)",
    "message 273 Update failed (-10100)",
    "progress 100",
    "progress -1",
]


def command(emulator, program, *args):
    return ([emulator] if emulator else []) + [program] + list(args)


def read(path):
    with open(path, "rb") as f:
        return f.read().decode("latin-1").replace("\r\n", "\n")


def exchange(emulator, listen, sender, folder, name, listen_args, sender_args, listen_wait):
    """Runs the listener, then the sender; returns (listener status, its
    lines, sender status, sender's fields)."""
    title = "mg two processes %s %d.%d" % (name, os.getpid(), int(time.time() * 1000))
    listen_out = os.path.join(folder, name + "-listen.txt")
    listen_err = os.path.join(folder, name + "-listen-err.txt")
    with open(listen_out, "wb") as out, open(listen_err, "wb") as err:
        listener = subprocess.Popen(command(emulator, listen, *listen_args, title),
                                    stdout=out, stderr=err, stdin=subprocess.DEVNULL)
    try:
        sender_out = os.path.join(folder, name + "-sender.txt")
        sender_err = os.path.join(folder, name + "-sender-err.txt")
        with open(sender_out, "wb") as out, open(sender_err, "wb") as err:
            sent = subprocess.run(command(emulator, sender, title, *sender_args), stdout=out,
                                  stderr=err, stdin=subprocess.DEVNULL, timeout=60)
        status = listener.wait(timeout=listen_wait)
    finally:
        if listener.poll() is None:
            listener.kill()
            listener.wait()
    fields = {}
    for line in read(sender_out).splitlines():
        key, _, value = line.partition(" ")
        fields[key] = value
    if sent.returncode != 0:
        print("sender stderr:", read(sender_err))
    return status, read(listen_out).splitlines(), sent.returncode, fields, read(listen_err)


def main():
    emulator, listen, sender = sys.argv[1], sys.argv[2], sys.argv[3]
    failures = []

    def check(ok, what):
        print(("ok   " if ok else "FAIL ") + what)
        if not ok:
            failures.append(what)

    with tempfile.TemporaryDirectory(prefix="mg_launcher_link_") as folder:
        # A launcher that answers: every record arrives, in order, and the
        # answer chosen by the launcher comes back to the patcher.
        status, lines, sent, fields, err = exchange(
            emulator, listen, sender, folder, "answers", ["--answer", "5", "--idle", "30000"],
            ["5000", "30000"], 30)
        check(sent == 0, "the sender found the listener (status %d)" % sent)
        check(fields.get("answer") == "5", "the answer is the launcher's: %r" % fields.get("answer"))
        check(fields.get("parent") == "1", "the link stands after the run")
        check(lines == RUN_LINES, "the listener printed the run's records: %r" % lines)
        check(status == 0, "the listener ended with 0 (%d) %s" % (status, err.strip()))

        # A launcher that stalls: the patcher waits one answer timeout, drops
        # the link and finishes its run.
        status, lines, sent, fields, err = exchange(
            emulator, listen, sender, folder, "stalls", ["--stall", "2500", "--idle", "1000"],
            ["700", "30000"], 30)
        check(sent == 0, "the sender found the stalling listener (status %d)" % sent)
        check(fields.get("answer") == "0", "no answer from a stalled launcher")
        check(fields.get("parent") == "0", "the link to a stalled launcher is dropped")
        took = int(fields.get("took", "999999"))
        check(600 <= took < 3000, "the stalled launcher cost %d ms (one 700 ms bound)" % took)
        check(lines[:1] == ["message 300 answered"], "the stalled listener got the first record")
    if failures:
        print("%d check(s) failed" % len(failures))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())

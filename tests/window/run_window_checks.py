#!/usr/bin/env python3
"""Drives the real marrowgate program on a display (CTest runs this under
xvfb-run) and in a terminal.

Usage: run_window_checks.py MARROWGATE MARROWGATE_PACK MARROWGATE_LISTEN SOURCE_DIR WORK_DIR PART

PART "run" makes the first four checks, "screenshot" the last.

Checks:
  run          a patcher built with the example patch, started with a launcher
               title and an install folder, opens its window, runs, ends with
               status 0; the files are on disk and the launcher's listener got
               the progress records;
  console      the same command line without a display gives the same result
               in the terminal;
  hidden       "-h" patches the program's own folder without showing a window;
  statuses     bad usage ends with 2, a folder that cannot be patched with 1;
  silent       with a launcher that never answers, the window is
               on the screen within a second and the run still succeeds
               (the link is dropped after the answer timeout);
  screenshot   started without a folder, the window waits; its picture is
               saved as WORK_DIR/patcher-window.png.
"""
import hashlib
import os
import shutil
import socket
import struct
import subprocess
import sys
import time

TITLE = "Marrowgate patch"  # message 100 of the example patch


def fail(message):
    sys.stderr.write("FAIL: " + message + "\n")
    sys.exit(1)


def check(condition, message):
    if not condition:
        fail(message)


def read(path):
    with open(path, "rb") as f:
        return f.read()


class Checks:
    def __init__(self, patcher_program, pack, listen, source, work):
        self.pack = pack
        self.listen = listen
        self.source = source
        self.work = work
        shutil.rmtree(work, ignore_errors=True)
        os.makedirs(work)
        self.patcher = os.path.join(work, "patcher")
        self.run_tool([pack, "attach", patcher_program, os.path.join(source, "examples", "patch"),
                       self.patcher])

    def run_tool(self, args, **kwargs):
        result = subprocess.run(args, capture_output=True, text=True, timeout=120, **kwargs)
        check(result.returncode == 0, "%s failed: %s" % (" ".join(args), result.stderr))
        return result

    def fresh_install(self, name):
        game = os.path.join(self.work, name)
        shutil.rmtree(game, ignore_errors=True)
        shutil.copytree(os.path.join(self.source, "examples", "install"), game)
        return game

    def check_patched(self, game):
        update = os.path.join(self.source, "examples", "patch", "update")
        for name in ("bin/game.cfg", "readme.txt", "data/sounds.bin"):
            target = os.path.join(game, name)
            check(os.path.exists(target), "%s was not copied" % target)
            check(read(target) == read(os.path.join(update, name)), "%s differs" % target)
        listing = self.run_tool([self.pack, "list", os.path.join(game, "data", "maps.dpk")]).stdout
        for name in ("valley.map", "harbour.map"):
            check(name in listing, "data/maps.dpk lacks %s:\n%s" % (name, listing))

    def patch_with_launcher(self, game, env, launcher, program=None, folder_args=None):
        """Runs the patcher with a listener; returns (status, stderr, listener lines)."""
        program = program or self.patcher
        # A launcher names the folder after "/D" (without it the whole
        # line would be the folder).
        folder_args = folder_args if folder_args is not None else ["/D", game]
        listener = subprocess.Popen([self.listen, launcher], stdout=subprocess.PIPE,
                                    stderr=subprocess.PIPE, text=True)
        try:
            time.sleep(0.5)  # the listener binds its address
            env = dict(env, MARROWGATE_DEBUG="1")
            result = subprocess.run([program, "/user", launcher] + folder_args, env=env,
                                    capture_output=True, text=True, timeout=300)
            lines, errors = listener.communicate(timeout=30)
        finally:
            if listener.poll() is None:
                listener.kill()
                listener.wait()
        check(listener.returncode == 0, "the listener failed: %s" % errors)
        return result.returncode, result.stderr, lines.splitlines()

    def check_records(self, lines):
        progress = [int(l.split()[1]) for l in lines if l.startswith("progress ")]
        check(progress[:1] == [0], "first progress record is not 0: %s" % lines)
        check(progress[-2:] == [100, -1], "the run did not end with 100, -1: %s" % lines)
        check(progress == sorted(progress[:-1]) + [-1], "progress went backwards: %s" % lines)

    def run(self):
        game = self.fresh_install("game-window")
        status, err, lines = self.patch_with_launcher(game, os.environ, "MarrowgateWindowCheck")
        check(status == 0, "the window run ended with %d:\n%s" % (status, err))
        check("marrowgate, shown in a window" in err, "no window was used:\n%s" % err)
        check("marrowgate, inner cmd m_lpCmdLine=/user MarrowgateWindowCheck /D " + game in err,
              "the command line was not reported:\n%s" % err)
        self.check_patched(game)
        self.check_records(lines)
        return lines

    def console(self, window_lines):
        game = self.fresh_install("game-console")
        env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
        status, err, lines = self.patch_with_launcher(game, env, "MarrowgateConsoleCheck")
        check(status == 0, "the terminal run ended with %d:\n%s" % (status, err))
        check("marrowgate, shown in the terminal" in err, "the terminal was not used:\n%s" % err)
        self.check_patched(game)
        check(lines == window_lines, "window and terminal sent different records:\n%s\n%s"
              % (window_lines, lines))

    def hidden(self):
        game = self.fresh_install("game-hidden")
        own = os.path.join(game, "patcher")
        shutil.copy2(self.patcher, own)
        # A launcher listens, so no message box waits for a click.
        status, err, lines = self.patch_with_launcher(game, os.environ, "MarrowgateHiddenCheck",
                                                      program=own, folder_args=["-h"])
        check(status == 0, "the hidden run ended with %d:\n%s" % (status, err))
        check("marrowgate, inner cmd m_lpCmdLine=/user MarrowgateHiddenCheck -h" in err,
              "the command line was not reported:\n%s" % err)
        self.check_patched(game)
        self.check_records(lines)

    def statuses(self):
        usage = subprocess.run([self.patcher, "--frobnicate"], capture_output=True, timeout=60)
        check(usage.returncode == 2, "bad usage ended with %d" % usage.returncode)
        empty = os.path.join(self.work, "not-a-game")
        os.makedirs(empty, exist_ok=True)
        env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
        failed = subprocess.run([self.patcher, "--console", empty], capture_output=True,
                                env=env, timeout=60)
        check(failed.returncode == 1, "a folder without a game ended with %d" % failed.returncode)

    def find_window(self, deadline, program):
        """The id of the viewable window titled TITLE, or None when the
        deadline passes or the program ends first."""
        while time.time() < deadline and program.poll() is None:
            found = subprocess.run(["xwininfo", "-name", TITLE], capture_output=True, text=True)
            if "Map State: IsViewable" in found.stdout:
                for line in found.stdout.splitlines():
                    if "Window id:" in line:
                        return line.split()[3]
            time.sleep(0.05)
        return None

    def silent(self):
        game = self.fresh_install("game-silent")
        title = "MarrowgateSilentCheck"
        address = b"\0marrowgate-launcher-" + hashlib.md5(title.encode()).hexdigest().encode()
        listener = socket.socket(socket.AF_UNIX, socket.SOCK_SEQPACKET)
        listener.bind(address)
        listener.listen(1)
        try:
            started = time.time()
            patcher = subprocess.Popen([self.patcher, "/user", title, "/D", game],
                                       stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                       env=dict(os.environ, MARROWGATE_DEBUG="1"), text=True)
            window = self.find_window(started + 30, patcher)
            shown_after = time.time() - started
            if window is None:
                if patcher.poll() is None:
                    patcher.kill()
                _, err = patcher.communicate(timeout=120)
                fail("no window appeared with a silent launcher (the patcher %s after %.1f s):\n%s"
                     % ("ended with %d" % patcher.returncode if patcher.returncode >= 0
                        else "was stopped", shown_after, err))
            # The launcher's answer timeout is 10 s: a window that waited for
            # the launcher would show only after it.
            check(shown_after < 3.0, "the window took %.1f s to show" % shown_after)
            _, err = patcher.communicate(timeout=120)
        finally:
            listener.close()
        check(patcher.returncode == 0, "the run with a silent launcher ended with %d:\n%s"
              % (patcher.returncode, err))
        check("launcher link dropped" in err, "the silent launcher was not dropped:\n%s" % err)
        self.check_patched(game)
        print("window shown after %.2f s with a silent launcher" % shown_after)

    def screenshot(self):
        shot = os.path.join(self.work, "patcher-window.png")
        patcher = subprocess.Popen([self.patcher], stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL)
        try:
            window = None
            deadline = time.time() + 30
            while time.time() < deadline and window is None:
                found = subprocess.run(["xwininfo", "-name", TITLE], capture_output=True, text=True)
                for line in found.stdout.splitlines():
                    if "Window id:" in line:
                        window = line.split()[3]
                if window is None:
                    time.sleep(0.2)
            check(window is not None, "no window titled %r appeared" % TITLE)
            check(patcher.poll() is None, "the patcher without a folder did not wait")
            time.sleep(1.0)  # drawn
            subprocess.run(["import", "-window", window, shot], check=True, timeout=60)
        finally:
            patcher.terminate()
            patcher.wait(timeout=30)
        with open(shot, "rb") as f:
            head = f.read(24)
        check(head[:8] == b"\x89PNG\r\n\x1a\n", "the screenshot is not a PNG")
        width, height = struct.unpack(">II", head[16:24])
        # 284 x 172 dialog units: wider than high, about 1.5 : 1 for most fonts.
        check(width > height > 200, "odd window size %dx%d" % (width, height))
        print("screenshot %s (%dx%d)" % (shot, width, height))


def main():
    if len(sys.argv) != 7:
        sys.exit(__doc__)
    checks = Checks(*sys.argv[1:6])
    part = sys.argv[6]
    if part == "run":
        checks.console(checks.run())
        checks.hidden()
        checks.statuses()
        checks.silent()
    elif part == "screenshot":
        checks.screenshot()
    else:
        sys.exit(__doc__)
    print("ok")


if __name__ == "__main__":
    main()

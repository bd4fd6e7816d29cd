#!/usr/bin/env python3
"""A private X display (Xvfb) and a Wine prefix of its own for tests that show windows: not the
shared test prefix, since its screen resolution (LogPixels) is changed here and its desktop process
belongs to this display.

As a script, xsession.py WINE_RUN PREFIX PROGRAM [ARGS...] runs one program in a session and ends
with its exit code.
"""
import os
import subprocess
import sys


class XSession:
    def __init__(self, wine_run, prefix):
        self.wine_run = wine_run
        self.prefix = prefix
        self.dpi = 96
        self.env = dict(os.environ)

    def __enter__(self):
        # Xvfb picks a free display and writes its number once it accepts connections.
        read, write = os.pipe()
        self.xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", "1280x1024x24",
                                      "-nolisten", "tcp"], pass_fds=[write],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write)
        try:
            with os.fdopen(read) as numbers:
                number = numbers.readline().strip()
            if not number:
                raise RuntimeError("Xvfb did not start")
            self.display = f":{number}"
            self.env = dict(os.environ, DISPLAY=self.display)
            self.env.pop("WAYLAND_DISPLAY", None)
            # A new prefix is made on first use; stop any server left from an earlier run so that
            # the desktop process is started on this display.
            self.run_wine(["cmd", "/c", "exit", "0"], check=False)
            self.stop_wine()
            # Like a Windows with East Asian fonts: the dialog face falls back to a font that has
            # Latin, Cyrillic and CJK glyphs (Segoe UI itself is not there).
            self.run_wine(["reg", "add", r"HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes",
                           "/v", "Segoe UI", "/t", "REG_SZ", "/d", "Noto Sans CJK JP", "/f"], check=True)
            self.set_dpi(self.dpi)
        except BaseException:
            # A failed setup gets no __exit__ from the with statement: Xvfb would be left running.
            self.__exit__()
            raise
        return self

    def set_dpi(self, dpi):
        self.dpi = dpi
        for key in (r"HKCU\Control Panel\Desktop",
                    r"HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts"):
            self.run_wine(["reg", "add", key, "/v", "LogPixels", "/t", "REG_DWORD", "/d", str(dpi), "/f"],
                          check=True)
        # The server keeps the old value for running processes; start afresh.
        self.stop_wine()

    def command(self, args):
        return [self.wine_run, self.prefix] + list(args)

    def run_wine(self, args, check=False, timeout=120, **kwargs):
        return subprocess.run(self.command(args), env=self.env, check=check, timeout=timeout,
                              stdout=kwargs.pop("stdout", subprocess.DEVNULL),
                              stderr=kwargs.pop("stderr", subprocess.DEVNULL), **kwargs)

    def popen_wine(self, args, **kwargs):
        return subprocess.Popen(self.command(args), env=self.env, **kwargs)

    def stop_wine(self):
        subprocess.run([self.wine_run, self.prefix, "--stop"], env=self.env, check=False)
        # wineserver -k returns before the server has gone; wait for it.
        subprocess.run(["wineserver", "-w"], env=dict(self.env, WINEPREFIX=self.prefix), check=False,
                       timeout=60)

    def __exit__(self, *exc):
        try:
            self.stop_wine()
        finally:
            self.xvfb.terminate()
            try:
                self.xvfb.wait(10)
            except subprocess.TimeoutExpired:
                self.xvfb.kill()
        return False


if __name__ == "__main__":
    with XSession(*sys.argv[1:3]) as session:
        run = session.run_wine(sys.argv[3:], timeout=900, stdout=None, stderr=None)
    sys.exit(run.returncode)

#!/usr/bin/env python3
"""The real purgelet in tmux on a simulated PC, driven by keys alone.

Run 1: the drive list shows its focus on C: at once; tick C:, choose a method, switch the
format off and the report on, confirm, force the dismount of the in-use volume, pause and
resume the wipe, finish with Enter from the radio button the finished page focuses; the image
and the report are checked. Run 2: Ctrl+C in the middle of the wipe; the report ends as aborted, and a
second wipe of the same drive in the same program proves that the device and its lock were
released. Run 3 (as root): this machine's real devices with a map file that names none of
them; the drive page tells once why nothing is offered.

Usage: tmux_wipe.py PATH/TO/purgelet
"""
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

MIB = 1 << 20
C_OFFSET, C_LENGTH = MIB, 4 * MIB
D_OFFSET, D_LENGTH = 6 * MIB, 2 * MIB
SESSION = "purgelet-e2e-%d" % os.getpid()


def machine(folder):
    return {
        "imageDir": folder,
        "physicalDisks": [{"friendlyName": "E2E DISK", "deviceNumber": 0, "image": "disk.img",
                           "bytesPerSecond": 2 * MIB,
                           "geometry": {"cylinders": 16, "tracksPerCylinder": 16,
                                        "sectorsPerTrack": 64, "bytesPerSector": 512}}],
        "drives": [
            {"letter": "C", "disk": 0, "offset": C_OFFSET, "length": C_LENGTH,
             "partitionType": 7, "partitionNumber": 1, "inUse": True,
             "displayName": "SYSTEM (C:)", "volume": {"label": "SYSTEM", "fileSystem": "NTFS"}},
            {"letter": "D", "disk": 0, "offset": D_OFFSET, "length": D_LENGTH,
             "partitionType": 12, "partitionNumber": 2, "displayName": "DATA (D:)",
             "volume": {"label": "DATA", "fileSystem": "FAT32"}},
        ],
    }


class Tmux:
    def __init__(self, program, machine_file, cwd, env=None):
        self.cwd = cwd
        env = env or "PURGELET_MACHINE=%s" % machine_file
        subprocess.run(["tmux", "new-session", "-d", "-s", SESSION, "-x", "80", "-y", "25",
                        "-c", cwd, "env %s %s; echo EXITED-$?; sleep 30"
                        % (env, program)], check=True)

    def screen(self):
        return subprocess.run(["tmux", "capture-pane", "-p", "-t", SESSION],
                              capture_output=True, text=True, check=True).stdout

    def reversed(self, text):
        """Whether text is shown in reverse video (where the keyboard is)."""
        shown = subprocess.run(["tmux", "capture-pane", "-p", "-e", "-t", SESSION],
                               capture_output=True, text=True, check=True).stdout
        for line in shown.splitlines():
            at = line.find(text)
            if at < 0:
                continue
            reverse = False
            for match in re.finditer(r"\x1b\[([0-9;:]*)m", line[:at]):
                params = [p for p in re.split("[;:]", match.group(1))] or [""]
                skip = 0
                for i, param in enumerate(params):
                    if skip:
                        skip -= 1
                        continue
                    value = int(param) if param else 0
                    if value in (38, 48, 58):  # a colour: its own parameters follow
                        skip = 2 if i + 1 < len(params) and params[i + 1] == "5" else 4
                    elif value == 0:
                        reverse = False
                    elif value == 7:
                        reverse = True
                    elif value == 27:
                        reverse = False
            return reverse
        return False

    def keys(self, *keys):
        for key in keys:
            subprocess.run(["tmux", "send-keys", "-t", SESSION, key], check=True)
            time.sleep(0.15)

    def wait_for(self, text, timeout=20):
        end = time.time() + timeout
        while time.time() < end:
            shown = self.screen()
            if text in shown:
                return shown
            time.sleep(0.1)
        raise AssertionError("waited for %r; the screen is:\n%s" % (text, self.screen()))

    def close(self):
        subprocess.run(["tmux", "kill-session", "-t", SESSION], capture_output=True)


def image(folder):
    with open(os.path.join(folder, "disk.img"), "rb") as f:
        return f.read()


def fill(folder):
    with open(os.path.join(folder, "disk.img"), "wb") as f:
        f.write(b"\xAA" * (8 * MIB))


def to_wipe(t, method_downs):
    """From the welcome page: tick C:, pick a method, format off, report on, confirm."""
    t.wait_for("This wizard will guide you")
    t.keys("Enter")
    t.wait_for("SYSTEM (C:)")
    # Before any key the list shows where the keyboard is: on the first drive, not a header.
    assert t.reversed("SYSTEM (C:)"), "C: is not highlighted:\n" + t.screen()
    assert not t.reversed("DATA (D:)")
    t.keys("Space")
    t.wait_for("Name: SYSTEM (C:)")
    t.keys("M-n")
    t.wait_for("You can choose")
    t.keys(*(["Down"] * method_downs))
    t.keys("M-n")
    t.wait_for("Report File")
    # The first box has the focus; Format Partitions is the seventh, the report the thirteenth
    # (the boxes added beside others come after the group's first column).
    t.keys(*(["Tab"] * 6), "Space", *(["Tab"] * 6), "Space")
    t.wait_for("Purgelet.log")
    t.keys("M-n")
    t.wait_for("Drives to Wipe:")
    t.keys("M-n")
    # C: is in use: the lock asks to force the dismount.
    t.wait_for("Yes ]")
    t.keys("M-y")


def run_completed(program, folder, machine_file):
    fill(folder)
    t = Tmux(program, machine_file, folder)
    try:
        to_wipe(t, 3)  # HMG IS5 (Baseline): zeros, verified
        t.wait_for("Wiping SYSTEM (C:)")
        t.keys("Tab", "Enter")  # Abort has the focus; Pause is next
        t.wait_for("Resume")
        gauges = lambda: [line for line in t.screen().splitlines() if "%" in line]
        # The transfer in flight when Pause was pressed still ends and is drawn; on a busy
        # machine that can take longer than a moment. Once the gauges have settled they must
        # stay where they are.
        before = gauges()
        for _ in range(6):
            time.sleep(0.5)
            now = gauges()
            if now == before:
                break
            before = now
        time.sleep(1.0)
        assert before and before == gauges(), "the gauges move while paused"
        t.keys("Enter")
        t.wait_for("Pause ]")
        t.wait_for("Wipe Completed.", timeout=30)
        t.keys("Enter")
        t.wait_for("The selected operations were completed.")
        t.keys("Enter")  # the focus is on a radio button: Enter presses Finish
        t.wait_for("EXITED-0")
    finally:
        t.close()
    data = image(folder)
    assert data[C_OFFSET:C_OFFSET + C_LENGTH] == bytes(C_LENGTH), "C: is not all zeros"
    assert data[:C_OFFSET] == b"\xAA" * C_OFFSET, "the partition table changed"
    assert data[D_OFFSET:D_OFFSET + D_LENGTH] == b"\xAA" * D_LENGTH, "D: changed"
    report = open(os.path.join(folder, "Purgelet.log"), "rb").read().decode("cp1252")
    assert "HMG IS5 (Baseline)" in report, report
    assert "SYSTEM (C:)" in report, report
    lines = report.rstrip("\r\n").split("\r\n")
    assert lines[-2].startswith("WIPE COMPLETED at"), report


def run_interrupted(program, folder, machine_file):
    fill(folder)
    os.remove(os.path.join(folder, "Purgelet.log"))
    t = Tmux(program, machine_file, folder)
    try:
        to_wipe(t, 0)  # zero fill
        t.wait_for("Wiping SYSTEM (C:)")
        time.sleep(0.6)
        t.keys("C-c")
        t.wait_for("Warning")
        t.keys("Enter")
        t.wait_for("An error occurred")
        report = open(os.path.join(folder, "Purgelet.log"), "rb").read().decode("cp1252")
        lines = report.rstrip("\r\n").split("\r\n")
        assert lines[-2].startswith("WIPE ABORTED at"), report
        data = image(folder)
        assert data[C_OFFSET:C_OFFSET + C_LENGTH] != bytes(C_LENGTH), "the abort came too late"
        # Restart the wizard and wipe the same drive again: its device and lock were freed.
        # The keyboard is on the chosen "Exit Program"; Up chooses "Restart Wizard".
        t.keys("Up", "M-f")
        t.wait_for("Name: SYSTEM (C:)")
        t.keys("M-n", "M-n", "M-n")
        t.wait_for("Drives to Wipe:")
        t.keys("M-n")  # dismounted by the first wipe: no question this time
        t.wait_for("Wipe Completed.", timeout=30)
        t.keys("Enter")
        t.wait_for("The selected operations were completed.")
        t.keys("C-c")  # outside a run: the end of the program
        t.wait_for("EXITED-0")
    finally:
        t.close()
    data = image(folder)
    assert data[C_OFFSET:C_OFFSET + C_LENGTH] == bytes(C_LENGTH), "the second wipe did not finish"


def run_nothing_to_wipe(program, folder):
    """This machine's real devices, as root, with a map file that names none of them: the
    drive page says once why nothing is offered, and the device under / is among them."""
    if os.geteuid() != 0:
        print("run 3 skipped: the real devices need root")
        return
    map_file = os.path.join(folder, "none.map")
    with open(map_file, "w") as f:
        f.write("only\n")
    env = "-u PURGELET_MACHINE PURGELET_DRIVE_MAP=%s XDG_CONFIG_HOME=%s" % (
        map_file, os.path.join(folder, "config"))
    t = Tmux(program, None, folder, env=env)
    try:
        t.wait_for("This wizard will guide you")
        t.keys("Enter")
        shown = t.wait_for("Nothing can be wiped on this computer.")
        assert "These devices were found and are not offered:" in shown, shown
        assert ("holds the running system" in shown or "cannot be told" in shown), shown
        assert "disk group" not in shown, "root was told to get the rights:\n" + shown
        t.keys("Enter")  # OK
        time.sleep(0.5)
        assert "Nothing can be wiped" not in t.screen(), "the box stayed"
        t.keys("Escape", "Escape")
    finally:
        t.close()


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    if shutil.which("tmux") is None:
        print("tmux is not installed")
        return 1
    program = os.path.abspath(sys.argv[1])
    folder = tempfile.mkdtemp(prefix="purgelet-e2e-")
    try:
        machine_file = os.path.join(folder, "machine.json")
        with open(machine_file, "w") as f:
            json.dump(machine(folder), f)
        run_completed(program, folder, machine_file)
        run_interrupted(program, folder, machine_file)
        run_nothing_to_wipe(program, folder)
    finally:
        shutil.rmtree(folder, ignore_errors=True)
    print("all runs passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())

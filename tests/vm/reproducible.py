#!/usr/bin/env python3
"""The boot image's initramfs is the same bytes when built twice from the same build.

    reproducible.py BUILD_IMAGE_PY PROGRAM_DIR CACHE WORK
"""
import hashlib
import os
import shutil
import subprocess
import sys


def main():
    builder, program, cache, work = sys.argv[1:5]
    shutil.rmtree(work, ignore_errors=True)
    digests = []
    for attempt in ("first", "second"):
        out = os.path.join(work, attempt)
        subprocess.run([sys.executable, builder, "--program", program, "--out", out,
                        "--version", "0", "--cache", cache, "--no-iso"], check=True,
                       stdout=subprocess.DEVNULL)
        with open(os.path.join(out, "initrd.img"), "rb") as f:
            digests.append(hashlib.sha256(f.read()).hexdigest())
    if digests[0] != digests[1]:
        print("the initramfs differs between two builds: %s %s" % tuple(digests))
        return 1
    print("the same initramfs twice: sha256 %s" % digests[0])
    shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())

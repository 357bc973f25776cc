#!/usr/bin/env python3
"""Reads back the sample certificates a build drew (certificate_samples_test.cpp) with
poppler's tools, as a reader gets them: their text page by page, their page count and size,
and the logo's colour on every page. Each page is kept as a picture beside its PDF for people
to look at. Used for the Windows build's certificates, drawn under Wine, and for the Linux
build's, so both are held to the same expectations.

    read_certificates.py FOLDER
"""
import re
import subprocess
import sys
from pathlib import Path

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)


def run(*command):
    return subprocess.run(command, check=True, capture_output=True).stdout


def pages_of(pdf):
    text = run("pdftotext", "-enc", "UTF-8", str(pdf), "-").decode("utf-8")
    return [re.sub(r"\s+", " ", page) for page in text.split("\f")[:-1]]


def info(pdf, field):
    match = re.search(field + r":\s*([^\n]*)", run("pdfinfo", str(pdf)).decode("utf-8"))
    return match.group(1) if match else ""


def pixels_of_colour(pdf, page, rgb, keep):
    """How many pixels of a page (at 100 dpi) are near rgb; the page is kept as a PNG too."""
    prefix = pdf.with_name(f"{pdf.stem}-page{page}")
    run("pdftoppm", "-r", "100", "-singlefile", "-f", str(page), "-l", str(page), str(pdf), str(prefix))
    if keep:
        run("pdftoppm", "-r", "100", "-png", "-singlefile", "-f", str(page), "-l", str(page),
            str(pdf), str(prefix))
    data = prefix.with_suffix(".ppm").read_bytes()
    prefix.with_suffix(".ppm").unlink()
    header = re.match(rb"P6\s+(\d+)\s+(\d+)\s+(\d+)\s", data)
    body = data[header.end():]
    count = 0
    for i in range(0, len(body) - 2, 3):
        if all(abs(body[i + c] - rgb[c]) <= 24 for c in range(3)):
            count += 1
    return count


def main(folder):
    folder = Path(folder)
    pdf = folder / "three-drives.pdf"
    pages = pages_of(pdf)
    check(len(pages) == 4, f"{pdf.name}: {len(pages)} pages, not 4")
    check(info(pdf, "Pages") == str(len(pages)), f"{pdf.name}: pdfinfo's page count")
    check("595 x 842" in info(pdf, "Page size"), f"{pdf.name}: not A4")
    check(info(pdf, "Title") == "Certificate of Erasure", f"{pdf.name}: title {info(pdf, 'Title')!r}")
    summary = pages[0] if pages else ""
    for expected in ["Certificate of Erasure", "Example Recycling Ltd", "1 Mill Lane, Leeds",
                     "Zoë Ünal", "Technician", "Bench 3", "+44 113 496 0000", "Ann Checker",
                     "moderate", "recycle", "OptiPlex 7050", "5CG1234XYZ",
                     "WD-WCC2EWN71234", "S3Z9NB0K612345X", "DONNÉES Cruzer € Blade", "failed", "completed"]:
        check(expected in summary, f"{pdf.name} page 1 lacks {expected!r}")
    for number, page in enumerate(pages, start=1):
        for expected in ["We attest that the information provided on this certificate is accurate",
                         "Zoë Ünal, Technician", "Ann Checker, Auditor",
                         "Record SHA-256: 9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08",
                         f"Page {number} of 4"]:
            check(expected in page, f"{pdf.name} page {number} lacks {expected!r}")
        check(pixels_of_colour(pdf, number, (0, 51, 230), keep=True) > 500,
              f"{pdf.name} page {number}: no logo")
    check("Block 1234567 could not be written." in pages[2] if len(pages) > 2 else False,
          f"{pdf.name}: the failed drive's errors are not on its page")

    letter = folder / "letter.pdf"
    check("612 x 792" in info(letter, "Page size"), f"{letter.name}: not Letter")
    check(pixels_of_colour(letter, 1, (0, 51, 230), keep=False) == 0, f"{letter.name}: a logo")

    many = folder / "sixty-drives.pdf"
    pages = pages_of(many)
    total = len(pages)
    # The summary continues over as many pages as its table needs, then a page per drive.
    check(62 <= total <= 66, f"{many.name}: {total} pages, not 60 drives and their summary")
    listed = " ".join(pages[:total - 60])
    for drive in (0, 30, 59):
        check(f"SN{drive}" in listed, f"{many.name}: SN{drive} not in the summary's table")
    check(f"Page {total} of {total}" in pages[-1], f"{many.name}: the last page's number")

    for failure in failures:
        print("FAILED:", failure)
    print(f"{len(failures)} failures; pages kept as pictures in {folder}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))

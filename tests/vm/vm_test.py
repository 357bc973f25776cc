#!/usr/bin/env python3
"""The program on a real Linux kernel, against QEMU's emulated drives, booted from the boot
image; every case is judged from the host on the disk images after the VM powered off.

    vm_test.py --image DIR --tool PURGELET-TOOL --work DIR CASE
"""

import argparse
import json
import os
import re
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import fleet_server  # noqa: E402
import vm  # noqa: E402

ZERO_FILL = "--method 'zero fill'"


class Failure(Exception):
    pass


def check(condition, message, console=None):
    if not condition:
        if console is not None:
            message += "\n--- console (last lines) ---\n" + "\n".join(console.splitlines()[-60:])
        raise Failure(message)


def unchanged(machine, names, console):
    for name in names:
        disk = machine.disk(name)
        check(vm.digest(disk.path) == disk.before, "%s was written to" % name, console)


def zeroed(machine, names, console):
    for name in names:
        left = vm.nonzero_blocks(machine.disk(name).path)
        check(not left, "%s was not wiped from its first to its last byte: MiB %s still hold data"
              % (name, left[:8]), console)


def records_untouched(machine, console):
    """The records stick still holds its partition table and the filler outside its files."""
    path = machine.disk("records").path
    with open(path, "rb") as f:
        table = f.read(512)
        f.seek(-vm.MiB, os.SEEK_END)
        tail = f.read()
    check(table[510:512] == b"\x55\xaa", "the records stick lost its partition table", console)
    check(tail.count(0) < len(tail) // 2, "the records stick's free space was overwritten",
          console)


def verified_records(machine, tool, console, certificate=True):
    """The records on the stick, verified by the tool; a refused run draws no certificate."""
    folder = machine.records()
    files = [os.path.join(folder, n) for n in sorted(os.listdir(folder)) if n.endswith(".json")]
    check(files, "no record on the records stick (%s)" % os.listdir(folder), console)
    result = subprocess.run([tool, "record", "verify"] + files, capture_output=True, text=True)
    check(result.returncode == 0, "record verify failed:\n" + result.stdout + result.stderr)
    check(not certificate or any(n.endswith(".pdf") for n in os.listdir(folder)),
          "no certificate on the records stick (%s)" % os.listdir(folder), console)
    return vm.load_records(folder)


def drive_of(record, serial):
    return [d for d in record["drives"] if d.get("identity", {}).get("serial") == serial]


def case_all_disks(machine, tool):
    """--all wipes every disk from its first to its last byte, never the records stick; the
    record names each disk by the model and serial number QEMU was given; the CD-ROM (a
    reader, with a data disc) answers and is told as a drive in which no disc can be blanked."""
    machine.cd = machine.data_disc()
    console = machine.boot_network(
        'purgelet.batch="--all %s" purgelet.operator="VM Operator" '
        'purgelet.organisation="VM Tests" purgelet.after=poweroff' % ZERO_FILL)
    zeroed(machine, [d.name for d in machine.disks if d.wipe], console)
    records_untouched(machine, console)
    runs = verified_records(machine, tool, console)
    check(len(runs) == 1, "one run, one record: %d" % len(runs), console)
    record = runs[0][1]
    check(record["operator"]["person"] == "VM Operator", "the operator: %s" % record["operator"])
    serials = vm.Machine.SERIALS
    for name, serial in serials.items():
        found = drive_of(record, serial)
        check(found, "no drive with serial %s (%s) in the record: %s" % (
            serial, name, [d.get("identity") for d in record["drives"]]), console)
        for drive in found:
            check(drive["outcome"] == "completed", "%s: %s %s" % (
                name, drive["outcome"], drive.get("outcomeText")), console)
    check(len(drive_of(record, serials["nvme"])) == 2, "both NVMe namespaces are wiped")
    models = {d["identity"]["serial"]: d["identity"]["model"] for d in record["drives"]
              if d.get("identity", {}).get("serial")}
    check(models[serials["sata"]] == "VM SATA DISK", "SATA model: %s" % models)
    check("VM SCSI DISK" in models[serials["scsi"]], "SCSI model: %s" % models)
    check(record["run"]["outcome"] == "completed", "outcome %s" % record["run"], console)
    # The CD-ROM answered INQUIRY and MODE SENSE: a reader, told as left out with the reason;
    # the records stick is told as kept.
    check(re.search(r"left out: \S+ VM CD-ROM \(VMVENDOR\): a CD/DVD drive that writes no disc",
                    console), "the CD-ROM is told as a drive that blanks no disc", console)
    check(re.search(r"left out: /dev/sd[a-z]1: the map file \S+ keeps /dev/sd[a-z]1 from being "
                    r"wiped", console), "the records stick is told as kept", console)
    check(re.search(r"run completed", console), "the console tells the run's outcome", console)


def case_nvme_namespace(machine, tool):
    """Namespace 2 named alone is wiped; namespace 1 of the same controller stays as it was."""
    console = machine.boot_network('purgelet.batch="%s /dev/nvme0n2" purgelet.after=poweroff'
                                   % ZERO_FILL)
    zeroed(machine, ["nvme-ns2"], console)
    unchanged(machine, [d.name for d in machine.disks if d.name not in ("nvme-ns2", "records")],
              console)
    record = verified_records(machine, tool, console)[0][1]
    check(record["run"]["outcome"] == "completed", "outcome %s" % record["run"], console)
    check(re.search(r"run completed", console), "the console tells the run's outcome", console)


def case_firmware_ata_refused(machine, tool):
    """The SATA disk answers IDENTIFY through the ATA pass-through; QEMU's drive has neither
    SANITIZE nor SECURITY ERASE, so the run is refused before anything is written."""
    console = machine.boot_network(
        'purgelet.batch="--method \'Firmware sanitize: block erase\' serial:%s" '
        'purgelet.after=poweroff' % vm.Machine.SERIALS["sata"])
    unchanged(machine, [d.name for d in machine.disks if d.name != "records"], console)
    record = verified_records(machine, tool, console, certificate=False)[0][1]
    check(record["run"]["outcome"] == "refused", "outcome %s" % record["run"], console)
    sata = drive_of(record, vm.Machine.SERIALS["sata"])
    check(sata and sata[0]["identity"]["model"] == "VM SATA DISK",
          "the SATA disk's identity: %s" % sata, console)
    # IDENTIFY was answered (else: "answers no ATA or NVMe command"), and tells neither command.
    check("VM SATA DISK: cannot be sanitized: supports no command for this operation" in console,
          "the refusal after IDENTIFY", console)
    check(re.search(r"run FAILED", console), "the console tells the run's outcome", console)


def case_firmware_nvme(machine, tool):
    """The drive's own erase of namespace 2 alone: QEMU's NVMe has no Sanitize and formats
    each namespace on its own (FNA 0), so Format NVM with a user data erase goes to
    namespace 2, which the drive zeroes; namespace 1 is untouched. Its crypto erase, which
    the drive lacks, is refused before anything is sent (a run of its own)."""
    console = machine.boot_network(
        'purgelet.batch="--method \'Firmware sanitize: block erase\' /dev/nvme0n2" '
        'purgelet.after=poweroff')
    unchanged(machine, [d.name for d in machine.disks if d.name not in ("nvme-ns2", "records")],
              console)
    zeroed(machine, ["nvme-ns2"], console)
    record = verified_records(machine, tool, console)[0][1]
    check(record["run"]["outcome"] == "completed", "outcome %s" % record["run"], console)
    drive = drive_of(record, vm.Machine.SERIALS["nvme"])
    check(len(drive) == 1 and "NVMe Format NVM, user data erase" in json.dumps(drive[0]),
          "the record names the command: %s" % drive, console)
    check(re.search(r"run completed", console), "the console tells the run's outcome", console)


def case_wizard(machine, tool):
    """With no options the wizard starts on the console (here a serial line): the program,
    its libraries, its language file and the terminal's description are all in the image;
    nothing is written."""
    shown = machine.boot_until("", "This wizard will guide you")
    console = machine.console_text()
    check(shown, "the wizard's first page did not appear", console)
    check("The terminal is too small" not in console, "the wizard had too few lines", console)
    # (the records stick is mounted for the wizard's report: its file system marks that)
    unchanged(machine, [d.name for d in machine.disks if d.wipe], console)


def case_iso_boot(machine, tool, uefi=False):
    """The ISO boots from the CD-ROM drive by the BIOS (or UEFI), takes its options from the
    records stick's purgelet.cfg, keeps the boot CD out of the list and wipes the disk named."""
    iso = [n for n in os.listdir(machine.image_dir) if n.endswith(".iso")]
    check(iso, "no ISO in %s" % machine.image_dir)
    machine.put_record_file("purgelet.cfg", "# options of the unattended run\n"
                            "batch=%s serial:%s\nafter=poweroff\n"
                            % (ZERO_FILL, vm.Machine.SERIALS["virtio"]))
    console = machine.boot_iso(os.path.join(machine.image_dir, iso[0]), uefi)
    check(re.search(r"boot medium: /dev/sr\d \(kept from being wiped\)", console),
          "the boot CD is recognised", console)
    zeroed(machine, ["virtio"], console)
    unchanged(machine, [d.name for d in machine.disks if d.name not in ("virtio", "records")],
              console)
    verified_records(machine, tool, console)


def case_fleet_push(machine, tool):
    """With purgelet.database the image brings its network up by DHCP after the run and pushes
    the run's record to the fleet database (a server on the host, reached through QEMU's user
    network); the record stays on the records stick too, and push.log beside it tells the
    push. The connection string itself is never shown by the image."""
    serial = vm.Machine.SERIALS["virtio"]
    machine.nic = "user"
    with fleet_server.Server() as server:
        made = subprocess.run([tool, "record", "push", "--init", "--to", server.conninfo()],
                              capture_output=True, text=True)
        check(made.returncode == 0, "record push --init failed:\n" + made.stdout + made.stderr)
        guest = server.conninfo(host="10.0.2.2")
        console = machine.boot_network(
            'purgelet.batch="%s serial:%s" purgelet.after=poweroff purgelet.database="%s"'
            % (ZERO_FILL, serial, guest))
        zeroed(machine, ["virtio"], console)
        unchanged(machine, [d.name for d in machine.disks if d.name not in ("virtio", "records")],
                  console)
        runs = verified_records(machine, tool, console)
        check(len(runs) == 1, "one run, one record: %d" % len(runs), console)
        name, record = runs[0]
        found = subprocess.run([tool, "record", "find", "--to", server.conninfo(), "--serial",
                                serial, "--json"], capture_output=True, text=True)
        check(found.returncode == 0, "record find failed:\n" + found.stdout + found.stderr,
              console)
        rows = [json.loads(line) for line in found.stdout.splitlines() if line.strip()]
    check(len(rows) == 1 and rows[0]["digest"] == record["sha256"],
          "the database holds the run's record for %s: %s (the stick's %s is %s)"
          % (serial, rows, name, record["sha256"]), console)
    check(rows[0]["outcome"] == "completed", "the drive's outcome: %s" % rows[0], console)
    boot_lines = [line for line in console.splitlines() if "purgelet-boot:" in line]
    check(any("pushing the records to the fleet database" in line for line in boot_lines),
          "the console tells the push", console)
    check(any(re.search(r"push: \S+\.json: 1 record\(s\), 1 new", line) for line in boot_lines),
          "the console shows the tool's output", console)
    check(any("the records are in the fleet database" in line for line in boot_lines),
          "the console tells the push's outcome", console)
    check(re.search(r"run completed", console), "the console tells the run's outcome", console)
    folder = machine.records()
    check("push.log" in os.listdir(folder), "no push.log beside the records: %s"
          % os.listdir(folder), console)
    with open(os.path.join(folder, "push.log"), encoding="utf-8") as f:
        log = f.read()
    check("exit status 0" in log and "1 new" in log, "push.log:\n" + log, console)
    for text in boot_lines + [log]:
        check("10.0.2.2" not in text and "dbname" not in text,
              "the connection string was shown: %s" % text, console)
    return "; ".join(line.split("purgelet-boot: ", 1)[1] for line in boot_lines
                     if "push" in line or "fleet" in line)


def case_fleet_push_refused(machine, tool):
    """A fleet database that cannot be reached (nothing listens on its port) fails the push,
    never the run: the drive is wiped, the record is on the records stick, the console and
    push.log tell that the push failed."""
    serial = vm.Machine.SERIALS["virtio"]
    machine.nic = "user"
    console = machine.boot_network(
        'purgelet.batch="%s serial:%s" purgelet.after=poweroff '
        'purgelet.database="host=10.0.2.2 port=%d user=fleet dbname=postgres"'
        % (ZERO_FILL, serial, fleet_server.free_port()))
    zeroed(machine, ["virtio"], console)
    record = verified_records(machine, tool, console)[0][1]
    check(record["run"]["outcome"] == "completed", "outcome %s" % record["run"], console)
    check(re.search(r"run completed: every drive was wiped \(exit status 0\)", console),
          "the console tells the run's outcome", console)
    check(re.search(r"push FAILED \(exit status 2\): the records stay on the records medium",
                    console), "the console tells the failed push", console)
    with open(os.path.join(machine.records(), "push.log"), encoding="utf-8") as f:
        log = f.read()
    check("record push (exit status 2)" in log, "push.log:\n" + log, console)


CASES = {
    "all_disks": case_all_disks,
    "fleet_push": case_fleet_push,
    "fleet_push_refused": case_fleet_push_refused,
    "nvme_namespace": case_nvme_namespace,
    "firmware_ata_refused": case_firmware_ata_refused,
    "firmware_nvme": case_firmware_nvme,
    "iso_boot": case_iso_boot,
    "iso_boot_uefi": lambda machine, tool: case_iso_boot(machine, tool, uefi=True),
    "wizard": case_wizard,
}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--image", required=True)
    parser.add_argument("--tool", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("case", choices=sorted(CASES))
    args = parser.parse_args()
    if not os.path.exists(os.path.join(args.image, "initrd.img")):
        print("no boot image in %s (make image)" % args.image)
        return 1
    machine = vm.Machine(os.path.join(args.work, args.case), args.image)
    start = time.monotonic()
    try:
        result = CASES[args.case](machine, args.tool)
    except Failure as failure:
        print("FAILED: %s" % failure)
        return 1
    print("%s passed in %.0f s (the VM ran %.0f s)%s" % (
        args.case, time.monotonic() - start, getattr(machine, "seconds", 0),
        "; " + result if isinstance(result, str) else ""))
    return 0


if __name__ == "__main__":
    sys.exit(main())

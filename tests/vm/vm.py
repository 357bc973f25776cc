"""A computer in QEMU with the disks a real one has, booted from Purgelet's boot image.

Every disk is a raw image file on the host, filled before the boot with bytes of its own, so
that after the VM powered off the host can tell, byte for byte, what was written where.
"""

import hashlib
import json
import os
import shutil
import subprocess
import time

MiB = 1024 * 1024
ZERO = bytes(MiB)


def fill(path, size, seed):
    """A disk image whose every MiB differs from every other, and from any other disk's."""
    with open(path, "wb") as f:
        for block in range(size // MiB):
            head = ("%s block %d " % (seed, block)).encode()
            body = bytes(((block * 7 + seed_byte(seed) + i) % 255) + 1 for i in range(256))
            f.write((head + body * (MiB // len(body) + 1))[:MiB])


def seed_byte(seed):
    return hashlib.sha256(seed.encode()).digest()[0]


def digest(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        for chunk in iter(lambda: f.read(MiB), b""):
            h.update(chunk)
    return h.hexdigest()


def nonzero_blocks(path):
    """The MiB-blocks of an image that hold a byte other than zero."""
    found = []
    with open(path, "rb") as f:
        block = 0
        for chunk in iter(lambda: f.read(MiB), b""):
            if chunk != ZERO[:len(chunk)]:
                found.append(block)
            block += 1
    return found


class Disk:
    def __init__(self, name, size, device, wipe=True):
        self.name = name      # the image's file name, without .img
        self.size = size
        self.device = device  # the QEMU -device text, with {drive} for the drive's id
        self.wipe = wipe      # whether an unattended --all must wipe it
        self.path = None
        self.before = None


class Machine:
    """The computer of the tests: NVMe with two namespaces, SATA on AHCI, a USB stick, virtio,
    SCSI disk and CD-ROM on virtio-scsi, a disk with a partition table and an ext4 partition,
    and the records stick (FAT, labelled PURGELET, on a partition)."""

    SERIALS = {
        "nvme": "VMNVME0001", "sata": "VMSATA0001", "usb": "VMUSB0001",
        "virtio": "VMVIRTIO01", "scsi": "VMSCSI0001", "ext4": "VMEXT40001",
    }

    def __init__(self, work, image_dir, size=16 * MiB):
        self.work = work
        self.image_dir = image_dir
        shutil.rmtree(work, ignore_errors=True)
        os.makedirs(work)
        self.disks = [
            Disk("nvme-ns1", size, "nvme-ns,drive={drive},bus=nvme0,nsid=1"),
            Disk("nvme-ns2", size, "nvme-ns,drive={drive},bus=nvme0,nsid=2"),
            Disk("sata", size, "ide-hd,drive={drive},bus=ide.0,model=VM SATA DISK,serial="
                 + self.SERIALS["sata"]),
            Disk("usb", size, "usb-storage,drive={drive},bus=xhci.0,serial=" + self.SERIALS["usb"]),
            Disk("virtio", size, "virtio-blk-pci,drive={drive},serial=" + self.SERIALS["virtio"]),
            Disk("scsi", size, "scsi-hd,drive={drive},bus=scsi0.0,vendor=VMVENDOR,"
                 "product=VM SCSI DISK,serial=" + self.SERIALS["scsi"]),
            Disk("ext4", size, "ide-hd,drive={drive},bus=ide.1,model=VM EXT4 DISK,serial="
                 + self.SERIALS["ext4"]),
            Disk("records", size, "usb-storage,drive={drive},bus=xhci.0,serial=VMRECORDS1",
                 wipe=False),
        ]
        for disk in self.disks:
            disk.path = os.path.join(work, disk.name + ".img")
            fill(disk.path, disk.size, disk.name)
        self._partition_ext4(self.disk("ext4").path)
        self._records_stick(self.disk("records").path)
        for disk in self.disks:
            disk.before = digest(disk.path)
        self.cd = None  # the CD-ROM's medium: None (no disc) or an ISO file
        self.boot_cd = False  # whether the firmware starts from it
        self.nic = "none"  # QEMU's -nic: "user" gives a network whose 10.0.2.2 is the host
        self.console = os.path.join(work, "console.log")

    def disk(self, name):
        return next(d for d in self.disks if d.name == name)

    @staticmethod
    def _partition_ext4(path):
        subprocess.run(["sfdisk", "-q", path], input="label: dos\nstart=2048, type=83\n",
                       text=True, check=True, capture_output=True)
        # The partition's file system in a file of its own, copied into place.
        part = path + ".part"
        size = os.path.getsize(path) - 2048 * 512
        with open(part, "wb") as f:
            f.truncate(size)
        subprocess.run(["mkfs.ext4", "-q", "-F", "-L", "OLDDATA", part], check=True)
        with open(part, "rb") as src, open(path, "r+b") as dst:
            dst.seek(2048 * 512)
            shutil.copyfileobj(src, dst)
        os.remove(part)

    @staticmethod
    def _records_stick(path):
        subprocess.run(["sfdisk", "-q", path], input="label: dos\nstart=2048, type=c\n",
                       text=True, check=True, capture_output=True)
        subprocess.run(["mkfs.vfat", "-n", "PURGELET", "--offset", "2048", path,
                        str((os.path.getsize(path) - 2048 * 512) // 1024)],
                       check=True, capture_output=True)

    def data_disc(self):
        """A small ISO 9660 data disc, as pressed or closed CD-ROMs are: no drive blanks it."""
        folder = os.path.join(self.work, "disc")
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "README.TXT"), "w") as f:
            f.write("a data disc\n")
        iso = os.path.join(self.work, "data.iso")
        subprocess.run(["xorriso", "-as", "mkisofs", "-quiet", "-V", "VMDATA", "-o", iso,
                        folder], check=True, capture_output=True)
        return iso

    def put_record_file(self, name, text):
        """A file on the records stick, as the operator would put it there."""
        local = os.path.join(self.work, name)
        with open(local, "w") as f:
            f.write(text)
        self._mtools(["mcopy", "-o", local, "::/" + name])
        self.disk("records").before = digest(self.disk("records").path)

    def records(self):
        """The records stick's files, copied out into work/records."""
        out = os.path.join(self.work, "records")
        shutil.rmtree(out, ignore_errors=True)
        os.makedirs(out)
        listing = self._mtools(["mdir", "-b", "::/"]).stdout.split()
        for name in listing:
            name = name.split("/")[-1]
            self._mtools(["mcopy", "-n", "::/" + name, os.path.join(out, name)])
        return out

    def _mtools(self, command):
        image = self.disk("records").path + "@@%d" % (2048 * 512)
        env = dict(os.environ, MTOOLS_SKIP_CHECK="1")
        return subprocess.run([command[0], "-i", image] + command[1:], check=True,
                              capture_output=True, text=True, env=env)

    def qemu_args(self):
        args = ["qemu-system-x86_64", "-machine", "q35", "-m", "512", "-smp", "1",
                "-display", "none", "-nic", self.nic, "-no-reboot",
                "-serial", "file:" + self.console, "-monitor", "none", "-parallel", "none"]
        if os.access("/dev/kvm", os.R_OK | os.W_OK):
            args += ["-accel", "kvm", "-cpu", "host"]
        else:
            args += ["-accel", "tcg", "-cpu", "max"]
        args += ["-device", "nvme,id=nvme0,serial=" + self.SERIALS["nvme"],
                 "-device", "qemu-xhci,id=xhci", "-device", "virtio-scsi-pci,id=scsi0"]
        for disk in self.disks:
            drive = "d-" + disk.name
            args += ["-drive", "file=%s,if=none,id=%s,format=raw,cache=unsafe" % (disk.path, drive),
                     "-device", disk.device.format(drive=drive)]
        if self.cd:
            args += ["-drive", "file=%s,if=none,id=cd,format=raw,media=cdrom,readonly=on"
                     % self.cd]
        else:
            args += ["-drive", "if=none,id=cd,media=cdrom"]
        # The firmware starts from the CD-ROM when it holds a disc (OVMF goes by bootindex).
        args += ["-device", "scsi-cd,drive=cd,bus=scsi0.0,vendor=VMVENDOR,product=VM CD-ROM,"
                 "serial=VMCD0001" + (",bootindex=0" if self.boot_cd else "")]
        return args

    def boot_network(self, append, timeout=240):
        """Boots the kernel and initrd as a network boot hands them over."""
        return self._run(self.network_args(append), timeout)

    def boot_iso(self, iso, uefi=False, timeout=240):
        """Boots the ISO from the SCSI CD-ROM drive by the BIOS, or by UEFI firmware (OVMF,
        which starts no CD on virtio-scsi) from a second CD-ROM drive on AHCI."""
        if not uefi:
            self.cd = iso
            self.boot_cd = True
            return self._run(self.qemu_args(), timeout)
        return self._run(self.qemu_args() + [
            "-bios", "/usr/share/ovmf/OVMF.fd",
            "-drive", "file=%s,if=none,id=bootcd,format=raw,media=cdrom,readonly=on" % iso,
            "-device", "ide-cd,drive=bootcd,bus=ide.2,bootindex=0"], timeout)

    def network_args(self, append):
        """The machine started as a network boot hands over the kernel and the initrd."""
        return self.qemu_args() + [
            "-kernel", os.path.join(self.image_dir, "vmlinuz"),
            "-initrd", os.path.join(self.image_dir, "initrd.img"),
            "-append", "console=ttyS0,115200 " + append]

    def boot_until(self, append, text, timeout=180):
        """Boots as a network boot and stops the VM once the console shows text; whether it
        did."""
        args = self.network_args(append)
        start = time.monotonic()
        process = subprocess.Popen(args, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            while time.monotonic() - start < timeout and process.poll() is None:
                if text in self.console_text():
                    return True
                time.sleep(1)
            return text in self.console_text()
        finally:
            self.seconds = time.monotonic() - start
            process.kill()
            process.wait()

    def _run(self, args, timeout):
        start = time.monotonic()
        try:
            result = subprocess.run(args, timeout=timeout, capture_output=True, text=True)
            if result.returncode != 0:
                raise AssertionError("QEMU ended with status %d: %s" % (
                    result.returncode, result.stderr.strip()))
        except subprocess.TimeoutExpired:
            raise AssertionError("the VM did not power off within %d s; console:\n%s"
                                 % (timeout, self.console_text()[-4000:]))
        self.seconds = time.monotonic() - start
        return self.console_text()

    def console_text(self):
        try:
            with open(self.console, "rb") as f:
                return f.read().decode("utf-8", "replace")
        except FileNotFoundError:
            return ""


def load_records(folder):
    """The records of the .json files in folder, with their file names."""
    found = []
    for name in sorted(os.listdir(folder)):
        if name.lower().endswith(".json"):
            with open(os.path.join(folder, name), encoding="utf-8") as f:
                for record in json.load(f):
                    found.append((name, record))
    return found

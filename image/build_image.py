#!/usr/bin/env python3
"""Builds the boot image: a kernel and an initramfs that start Purgelet, and a hybrid ISO.

    build_image.py --program DIR --out DIR --version V --cache DIR [--no-iso]

--program is the folder of the Linux build's executables (purgelet, purgelet.lng, Methods/,
purgelet-tool).
Everything else comes from Debian's packages: the kernel and its modules from the package
linux-image-amd64 names (downloaded by apt into the cache folder, never installed on this
machine), the shell tools from busybox-static, the program's and purgelet-tool's shared
libraries, terminal descriptions and fonts from the packages installed here. The initramfs is
the same bytes for the same inputs: its files are sorted, owned by root and dated
SOURCE_DATE_EPOCH (or 0).
"""

import argparse
import gzip
import hashlib
import os
import re
import shutil
import stat
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))

# The drivers of the disks a computer may hold, of the buses they hang on, of the keyboard the
# wizard is answered from, and the FAT file system of the records medium. A name the kernel
# has built in is taken as present; one it knows neither way is an error (a typo here would
# leave a kind of disk unseen and unwiped without a word).
MODULES = [
    # NVMe, SATA/PATA, SCSI, optical, the SCSI generic pass-through
    "nvme", "ahci", "ata_piix", "ata_generic", "sd_mod", "sr_mod", "sg",
    # SAS and RAID host adapters that show their disks as SCSI disks
    "mpt3sas", "megaraid_sas", "hpsa", "smartpqi", "aacraid", "mptsas",
    # USB sticks and disks, and the controllers they are plugged into
    "usb_storage", "uas", "xhci_pci", "ehci_pci", "ohci_pci", "uhci_hcd",
    # virtual machines
    "virtio_pci", "virtio_blk", "virtio_scsi",
    # eMMC and SD cards
    "mmc_block", "sdhci_pci", "sdhci_acpi",
    # USB keyboards
    "usbhid", "hid_generic",
    # the records medium
    "vfat", "nls_cp437", "nls_ascii", "nls_iso8859_1", "nls_utf8",
]
# The network cards, loaded only when the records go to a fleet database: QEMU's defaults
# (e1000, e1000e on q35, virtio), which are also the commonest cards of real computers.
NETWORK_MODULES = ["e1000", "e1000e", "virtio_net"]

# udhcpc's hook (busybox ships none): the lease's address, default route and name servers.
DHCP_SCRIPT = b"""#!/bin/sh
case "$1" in
deconfig)
    ip addr flush dev "$interface"
    ip link set "$interface" up
    ;;
bound | renew)
    ip addr flush dev "$interface"
    ip addr add "$ip/${mask:-24}" ${broadcast:+broadcast "$broadcast"} dev "$interface"
    for gateway in $router; do
        ip route replace default via "$gateway" dev "$interface" && break
    done
    : >/etc/resolv.conf
    [ -n "$domain" ] && echo "search $domain" >>/etc/resolv.conf
    for server in $dns; do echo "nameserver $server" >>/etc/resolv.conf; done
    ;;
esac
exit 0
"""

TERMINALS = ["linux", "vt100", "vt102", "vt220", "xterm", "dumb"]
FONTS = ["DejaVuSans.ttf", "DejaVuSans-Bold.ttf", "DejaVuSansMono.ttf", "DejaVuSansMono-Bold.ttf"]


def fail(message):
    sys.stderr.write("build_image: " + message + "\n")
    sys.exit(1)


def run(args, **kwargs):
    return subprocess.run(args, check=True, **kwargs)


def kernel_package():
    """The versioned kernel package linux-image-amd64 depends on."""
    try:
        shown = subprocess.run(["apt-cache", "show", "linux-image-amd64"], check=True,
                               capture_output=True, text=True).stdout
    except (OSError, subprocess.CalledProcessError) as error:
        fail("apt cannot tell the kernel package (apt-cache show linux-image-amd64): %s" % error)
    for line in shown.splitlines():
        if line.startswith("Depends:"):
            found = re.search(r"(linux-image-[0-9][^\s,(]*-amd64)", line)
            if found:
                return found.group(1)
    fail("linux-image-amd64 names no kernel package")


def fetch_kernel(cache):
    """The kernel's files, unpacked once into the cache: (vmlinuz, modules folder, release)."""
    package = kernel_package()
    release = package[len("linux-image-"):]
    unpacked = os.path.join(cache, package)
    if not os.path.isdir(os.path.join(unpacked, "lib", "modules", release)):
        os.makedirs(cache, exist_ok=True)
        debs = [name for name in os.listdir(cache) if name.startswith(package + "_")]
        if not debs:
            options = ["-q"]
            if os.getuid() == 0:  # apt hands downloads to its own user, who cannot write here
                options += ["-o", "APT::Sandbox::User=root"]
            # A mirror in the middle of a sync fails a download now and then: once more.
            if subprocess.run(["apt-get"] + options + ["download", package], cwd=cache).returncode:
                time.sleep(5)
                run(["apt-get"] + options + ["download", package], cwd=cache)
            debs = [name for name in os.listdir(cache) if name.startswith(package + "_")]
        if not debs:
            fail("apt did not download " + package)
        partial = unpacked + ".partial"
        shutil.rmtree(partial, ignore_errors=True)
        run(["dpkg-deb", "-x", os.path.join(cache, sorted(debs)[-1]), partial])
        shutil.rmtree(unpacked, ignore_errors=True)
        os.rename(partial, unpacked)
    vmlinuz = os.path.join(unpacked, "boot", "vmlinuz-" + release)
    return vmlinuz, os.path.join(unpacked, "lib", "modules", release), release


def module_name(path):
    return os.path.basename(path).split(".ko")[0].replace("-", "_")


def module_closure(modules_dir, wanted):
    """The module files to load, each after the ones it needs, as paths under modules_dir.

    The package ships no modules.dep (depmod writes it when the package is installed): what a
    module needs is read from its own .modinfo, the depends= entry the kernel's build wrote.
    """
    paths = {}
    for folder, _, files in os.walk(os.path.join(modules_dir, "kernel")):
        for name in files:
            if name.endswith(".ko"):
                full = os.path.join(folder, name)
                paths[module_name(name)] = os.path.relpath(full, modules_dir)
    builtin = set()
    with open(os.path.join(modules_dir, "modules.builtin")) as listing:
        builtin = {module_name(line.strip()) for line in listing if line.strip()}

    def needs(name):
        with open(os.path.join(modules_dir, paths[name]), "rb") as f:
            found = re.search(rb"\x00depends=([^\x00]*)\x00", f.read())
        if not found or not found.group(1):
            return []
        return [module_name(n) for n in found.group(1).decode().split(",")]

    order = []
    seen = set()

    def visit(name):
        if name in seen:
            return
        seen.add(name)
        for need in needs(name):
            if need in paths:
                visit(need)
            elif need not in builtin:
                fail("%s needs %s, which the kernel does not have" % (name, need))
        order.append(paths[name])

    for name in wanted:
        if name in paths:
            visit(name)
        elif name not in builtin:
            fail("the kernel has no module " + name)
    return order


def shared_libraries(program):
    """The shared libraries the dynamic loader maps for the program, with the loader."""
    listing = subprocess.run(["ldd", program], check=True, capture_output=True,
                             text=True).stdout
    found = []
    for line in listing.splitlines():
        line = line.strip()
        if "=>" in line:
            target = line.split("=>", 1)[1].split("(")[0].strip()
            if target == "not found" or not target:
                fail("a library of %s is missing: %s" % (program, line))
            found.append(target)
        elif line.startswith("/"):
            found.append(line.split("(")[0].strip())
    return found


class Tree:
    """The initramfs's files: path -> (mode, content or link target or device number)."""

    def __init__(self):
        self.entries = {}

    def folder(self, path):
        parts = path.strip("/").split("/")
        for i in range(1, len(parts) + 1):
            self.entries.setdefault("/".join(parts[:i]), ("dir", 0o755, None))

    def data(self, path, content, mode=0o644):
        path = path.strip("/")
        if "/" in path:
            self.folder(os.path.dirname(path))
        self.entries[path] = ("file", mode, content)

    def copy(self, source, path=None, mode=None):
        with open(source, "rb") as f:
            content = f.read()
        if mode is None:
            mode = 0o755 if os.stat(source).st_mode & stat.S_IXUSR else 0o644
        self.data(path or source, content, mode)

    def link(self, path, target):
        path = path.strip("/")
        self.folder(os.path.dirname(path))
        self.entries[path] = ("link", 0o777, target)

    def device(self, path, major, minor, mode=0o600):
        path = path.strip("/")
        self.folder(os.path.dirname(path))
        self.entries[path] = ("char", mode, (major, minor))

    def cpio(self, mtime):
        """The tree as a newc cpio archive, in sorted order with fixed owners and times."""
        out = bytearray()

        def header(ino, mode, size, name, rdev=(0, 0), nlink=1):
            fields = [ino, mode, 0, 0, nlink, mtime, size, 0, 0, rdev[0], rdev[1],
                      len(name) + 1, 0]
            out.extend(b"070701" + b"".join(b"%08X" % f for f in fields))
            out.extend(name.encode() + b"\0")
            while len(out) % 4:
                out.append(0)

        def body(content):
            out.extend(content)
            while len(out) % 4:
                out.append(0)

        for ino, path in enumerate(sorted(self.entries), start=1):
            kind, mode, value = self.entries[path]
            if kind == "dir":
                header(ino, stat.S_IFDIR | mode, 0, path, nlink=2)
            elif kind == "file":
                header(ino, stat.S_IFREG | mode, len(value), path)
                body(value)
            elif kind == "link":
                target = value.encode()
                header(ino, stat.S_IFLNK | mode, len(target), path)
                body(target)
            else:
                header(ino, stat.S_IFCHR | mode, 0, path, rdev=value)
        header(0, 0, 0, "TRAILER!!!")
        return bytes(out)


def build_tree(program_dir, modules_dir, release, version):
    tree = Tree()
    for folder in ["bin", "dev", "proc", "sys", "tmp", "run", "records", "boot-medium", "root"]:
        tree.folder(folder)
    # The kernel opens the console before it starts /init: the node must be there already.
    tree.device("dev/console", 5, 1)
    tree.device("dev/null", 1, 3, 0o666)

    busybox = shutil.which("busybox") or "/bin/busybox"
    if not os.path.exists(busybox):
        fail("busybox is not installed (package busybox-static)")
    tree.copy(busybox, "bin/busybox", 0o755)
    applets = subprocess.run([busybox, "--list"], check=True, capture_output=True,
                             text=True).stdout.split()
    for applet in applets:
        if applet != "busybox":
            tree.link("bin/" + applet, "busybox")
    tree.link("sbin", "bin")

    # The program, its data and every library it maps.
    executable = os.path.join(program_dir, "purgelet")
    # Without its debugging information, which is most of the build's file.
    with tempfile.TemporaryDirectory() as scratch:
        stripped = os.path.join(scratch, "purgelet")
        run(["objcopy", "--strip-debug", executable, stripped])
        tree.copy(stripped, "opt/purgelet/purgelet", 0o755)
    tree.copy(executable + ".lng", "opt/purgelet/purgelet.lng", 0o644)
    methods = os.path.join(program_dir, "Methods")
    for name in sorted(os.listdir(methods)):
        tree.copy(os.path.join(methods, name), "opt/purgelet/Methods/" + name, 0o644)
    # util-linux's blkid lists every file system with a label (busybox has none that does).
    blkid = shutil.which("blkid") or "/sbin/blkid"
    tree.copy(blkid, "bin/blkid", 0o755)
    # The host tool, which pushes the run's records to a fleet database (through libpq).
    tool = os.path.join(program_dir, "purgelet-tool")
    if not os.path.exists(tool):
        fail("purgelet-tool is not beside the program in " + program_dir)
    with tempfile.TemporaryDirectory() as scratch:
        stripped = os.path.join(scratch, "purgelet-tool")
        run(["objcopy", "--strip-debug", tool, stripped])
        tree.copy(stripped, "opt/purgelet/purgelet-tool", 0o755)
    libraries = shared_libraries(executable) + shared_libraries(blkid) + shared_libraries(tool)
    for library in sorted(set(libraries)):
        # Under the name the program asks for, with the content of the file it names.
        tree.copy(os.path.realpath(library), library, 0o755)
    for name in TERMINALS:
        for root in ["/lib/terminfo", "/usr/share/terminfo"]:
            source = os.path.join(root, name[0], name)
            if os.path.exists(source):
                tree.copy(os.path.realpath(source), "usr/share/terminfo/%s/%s" % (name[0], name))
                break
        else:
            fail("no terminal description for " + name + " (package ncurses-base)")
    for name in FONTS:
        source = os.path.join("/usr/share/fonts/truetype/dejavu", name)
        if not os.path.exists(source):
            fail("the font %s is missing (package fonts-dejavu-core)" % source)
        tree.copy(source, "usr/share/fonts/dejavu/" + name, 0o644)
    with open(os.path.join(HERE, "fonts.conf"), "rb") as f:
        tree.data("etc/fonts/fonts.conf", f.read())

    # The kernel's modules, in the order they are loaded.
    order = module_closure(modules_dir, MODULES)
    for module in order:
        tree.copy(os.path.join(modules_dir, module), "lib/modules/%s/%s" % (release, module),
                  0o644)
    tree.data("etc/purgelet/modules", ("\n".join(order) + "\n").encode())
    # The network cards' drivers and what they need beyond the disks' (loaded only for a push).
    network = [m for m in module_closure(modules_dir, MODULES + NETWORK_MODULES)
               if m not in order]
    for module in network:
        tree.copy(os.path.join(modules_dir, module), "lib/modules/%s/%s" % (release, module),
                  0o644)
    tree.data("etc/purgelet/network-modules", ("\n".join(network) + "\n").encode())
    tree.data("etc/purgelet/dhcp.script", DHCP_SCRIPT, 0o755)
    tree.data("etc/nsswitch.conf", b"hosts: files dns\n")
    tree.data("etc/hosts", b"127.0.0.1 localhost\n")
    tree.data("etc/purgelet/version", (version + "\n").encode())
    with open(os.path.join(HERE, "init"), "rb") as f:
        tree.data("init", f.read(), 0o755)
    tree.data("etc/passwd", b"root:x:0:0:root:/root:/bin/sh\n")
    tree.data("etc/group", b"root:x:0:\ndisk:x:6:\n")
    return tree


GRUB_CFG = """\
# The boot image's menu. The unattended run takes its options from the records medium's
# purgelet.cfg, or from the kernel command line (see the README).
serial --unit=0 --speed=115200
terminal_input console serial
terminal_output console serial
set timeout=5
set default=0

menuentry "Purgelet %(version)s" {
    linux /boot/vmlinuz console=ttyS0,115200 console=tty0 quiet
    initrd /boot/initrd.img
}
menuentry "Purgelet %(version)s: wizard only (ignore the records medium's purgelet.cfg)" {
    linux /boot/vmlinuz console=ttyS0,115200 console=tty0 quiet purgelet.batch=
    initrd /boot/initrd.img
}
"""


def build_iso(out, vmlinuz, initrd, version, mtime):
    staging = tempfile.mkdtemp(prefix="purgelet-iso-")
    try:
        os.makedirs(os.path.join(staging, "boot", "grub"))
        shutil.copyfile(vmlinuz, os.path.join(staging, "boot", "vmlinuz"))
        shutil.copyfile(initrd, os.path.join(staging, "boot", "initrd.img"))
        with open(os.path.join(staging, "boot", "grub", "grub.cfg"), "w") as f:
            f.write(GRUB_CFG % {"version": version})
        env = dict(os.environ, SOURCE_DATE_EPOCH=str(mtime))
        iso = os.path.join(out, "purgelet-boot-%s.iso" % version)
        result = subprocess.run(["grub-mkrescue", "-o", iso, staging, "--", "-volid",
                                 "PURGELET_BOOT"], env=env, capture_output=True, text=True)
        if result.returncode != 0:
            fail("grub-mkrescue failed:\n" + result.stderr)
        return iso
    finally:
        shutil.rmtree(staging, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--program", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--cache", required=True)
    parser.add_argument("--no-iso", action="store_true")
    args = parser.parse_args()

    mtime = int(os.environ.get("SOURCE_DATE_EPOCH", "0"))
    vmlinuz, modules_dir, release = fetch_kernel(os.path.abspath(args.cache))
    tree = build_tree(os.path.abspath(args.program), modules_dir, release, args.version)
    os.makedirs(args.out, exist_ok=True)
    initrd = os.path.join(args.out, "initrd.img")
    archive = tree.cpio(mtime)
    with open(initrd + ".partial", "wb") as raw:
        with gzip.GzipFile(fileobj=raw, mode="wb", compresslevel=6, mtime=mtime,
                           filename="") as packed:
            packed.write(archive)
    os.replace(initrd + ".partial", initrd)
    shutil.copyfile(vmlinuz, os.path.join(args.out, "vmlinuz"))
    lines = ["kernel " + release, "initrd.img sha256 " +
             hashlib.sha256(open(initrd, "rb").read()).hexdigest()]
    if not args.no_iso:
        iso = build_iso(args.out, vmlinuz, initrd, args.version, mtime)
        lines.append(os.path.basename(iso))
    with open(os.path.join(args.out, "MANIFEST"), "w") as f:
        f.write("\n".join(lines) + "\n")
    print("boot image in %s (kernel %s)" % (args.out, release))


if __name__ == "__main__":
    main()

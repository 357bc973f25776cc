# make demo   installs what is missing (apt), builds the program and starts the wizard on the
#             simulated demo PC (machines/demo.json; its disk images go to the user's data folder)
# make demo-win  the same demo with the Windows program, purgelet.exe, under Wine (needs a display)
# make dist   builds dist/purgelet-<version>-win32.zip: purgelet.exe, its language file, the
#             methods and a README for Windows users
# make image  builds the boot image, dist/purgelet-boot-<version>/: vmlinuz and initrd.img for a
#             network boot, and a hybrid ISO for a CD or a USB stick
# make test   installs what is missing (apt), then builds and tests every preset:
#             linux (native), win32 (mingw-w64, tests under Wine; built for 64-bit Windows
#             where this machine cannot run 32-bit programs), sanitize (ASan/UBSan + fuzz),
#             tsan (ThreadSanitizer over the wipe engine's and the program's tests)
.PHONY: demo demo-win dist image host-tool test deps deps-linux linux win32 win64 sanitize tsan bench clean

HOST_TOOL := $(CURDIR)/build/linux/bin/purgelet-tool
VERSION := $(shell grep -m1 -o 'purgelet VERSION [0-9.]*' CMakeLists.txt | cut -d' ' -f3)

# The compilers run through ccache where it is installed, with paths taken relative to this
# folder: a fresh clone on a machine that has built the project before compiles again only
# what differs. A caller's own settings win.
ifneq ($(shell command -v ccache 2>/dev/null),)
export CMAKE_C_COMPILER_LAUNCHER ?= ccache
export CMAKE_CXX_COMPILER_LAUNCHER ?= ccache
export CCACHE_BASEDIR ?= $(CURDIR)
export CCACHE_NOHASHDIR ?= 1
endif

test: deps linux win32 sanitize tsan

# The tests of real devices (loop devices, mounts), of the program started as a process and of
# the terminal driven through tmux run one at a time, after the others, which run side by side
# (each is a process of its own with its own scratch folder).
SERIAL_TESTS := ^(BatchProgram|Linux|RunningSystem|MountedImage|ImageDrives|SystemDecision|ConcurrentDevicesLinux|ProgramEntry|FakeSysfs|e2e_)
TEST_JOBS ?= $(shell nproc 2>/dev/null || echo 2)

# The terminal demo needs only the Linux build; the Windows tool chains and Wine come with the
# targets that use them.
deps:
	bash .ci/install-deps all

deps-linux:
	bash .ci/install-deps linux

demo: deps-linux
	cmake --preset linux
	cmake --build --preset linux --target purgelet
	PURGELET_MACHINE=$(CURDIR)/machines/demo.json ./build/linux/bin/purgelet

# The boot image: dist/purgelet-boot-<version>/ with vmlinuz and initrd.img for a network boot
# and a hybrid ISO for a CD or a USB stick (README, "The boot image").
image: deps-linux
	cmake --preset linux
	cmake --build --preset linux --target boot_image
	rm -rf dist/purgelet-boot-$(VERSION)
	mkdir -p dist
	cp -r build/linux/image/purgelet-boot-$(VERSION) dist/

# The language packer, built natively for the cross build.
host-tool:
	cmake --preset linux
	cmake --build --preset linux --target purgelet-tool

# (the 64-bit build under 64-bit Wine where this machine cannot run 32-bit programs)
demo-win: deps host-tool
	if /usr/lib/wine/wine --version >/dev/null 2>&1; then preset=win32; loader=wine; \
	else preset=win64; loader=/usr/lib/wine/wine64; fi; \
	cmake --preset $$preset -DPURGELET_HOST_TOOL=$(HOST_TOOL) && \
	cmake --build --preset $$preset --target purgelet && \
	PURGELET_MACHINE="$$(WINEDEBUG=-all WINELOADER=$$loader $$loader winepath -w $(CURDIR)/machines/demo.json)" \
		WINEDEBUG=-all WINELOADER=$$loader $$loader ./build/$$preset/bin/purgelet.exe

dist: deps host-tool
	cmake --preset win32 -DPURGELET_HOST_TOOL=$(HOST_TOOL)
	cmake --build --preset win32 --target dist

linux:
	cmake --preset linux
	cmake --build --preset linux
	ctest --preset linux -j$(TEST_JOBS) -E '$(SERIAL_TESTS)'
	ctest --preset linux -R '$(SERIAL_TESTS)'

# The Windows tests run under Wine: the 32-bit program's, where this machine runs 32-bit
# programs; where it cannot (a kernel with IA-32 emulation off), the same tests built for
# 64-bit Windows run under 64-bit Wine instead, after the 32-bit build.
win32: linux
	cmake --preset win32 -DPURGELET_HOST_TOOL=$(HOST_TOOL)
	if /usr/lib/wine/wine --version >/dev/null 2>&1; then \
		cmake --build --preset win32 && ctest --preset win32; \
	else \
		echo "This machine cannot run 32-bit programs: the Windows tests run as 64-bit programs."; \
		cmake --build --preset win32 --target purgelet purgelet-tool && $(MAKE) win64; \
	fi

win64: host-tool
	cmake --preset win64 -DPURGELET_HOST_TOOL=$(HOST_TOOL)
	cmake --build --preset win64
	ctest --preset win64

sanitize:
	cmake --preset sanitize
	cmake --build --preset sanitize
	ctest --preset sanitize -j$(TEST_JOBS) -E '$(SERIAL_TESTS)'
	ctest --preset sanitize -R '$(SERIAL_TESTS)'

tsan:
	cmake --preset tsan
	cmake --build --preset tsan
	ctest --preset tsan

bench: linux
	./build/linux/bin/bench_fill
	./build/linux/bin/bench_engine
	./build/linux/bin/bench_parallel

clean:
	rm -rf build dist

# make demo   installs what is missing (apt), builds the program and starts the wizard on the
#             simulated demo PC (machines/demo.json; its disk images go to the user's data folder)
# make test   installs what is missing (apt), then builds and tests every preset:
#             linux (native), win32 (mingw-w64, tests under Wine), sanitize (ASan/UBSan + fuzz),
#             tsan (ThreadSanitizer over the wipe engine's tests)
.PHONY: demo test deps linux win32 sanitize tsan bench clean

HOST_TOOL := $(CURDIR)/build/linux/bin/purgelet-tool

test: deps linux win32 sanitize tsan

deps:
	bash .ci/install-deps

demo: deps
	cmake --preset linux
	cmake --build --preset linux --target purgelet
	PURGELET_MACHINE=$(CURDIR)/machines/demo.json ./build/linux/bin/purgelet

linux:
	cmake --preset linux
	cmake --build --preset linux
	ctest --preset linux

win32: linux
	cmake --preset win32 -DPURGELET_HOST_TOOL=$(HOST_TOOL)
	cmake --build --preset win32
	ctest --preset win32

sanitize:
	cmake --preset sanitize
	cmake --build --preset sanitize
	ctest --preset sanitize

tsan:
	cmake --preset tsan
	cmake --build --preset tsan
	ctest --preset tsan

bench: linux
	./build/linux/bin/bench_fill
	./build/linux/bin/bench_engine

clean:
	rm -rf build

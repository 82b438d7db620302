# Thin wrapper over the CMake presets. Each target first checks (as root: installs) the Debian
# packages it needs.
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
FUZZ_SECONDS ?= 60
SAMPLE ?=

.PHONY: demo test test-native test-asan test-windows windows windows-package linux-package pictures bench bench-windows fuzz format clean

# The main job: build the tool, list the bundled sample image and render its listing to a PNG.
demo:
	@tools/deps.sh build
	cmake --preset release >/dev/null
	cmake --build --preset release -j $(JOBS)
	build/release/src/cli/kelvane list samples/demo.d64
	build/release/src/cli/kelvane render samples/demo.d64 -o build/demo.png
	@echo "The rendered listing is $(CURDIR)/build/demo.png"

# Every test: native, under ASan+UBSan, and the Windows build under Wine.
test:
	@tools/deps.sh test
	$(MAKE) test-native test-asan test-windows

test-native:
	cmake --preset debug >/dev/null
	cmake --build --preset debug -j $(JOBS)
	ctest --preset debug -j $(JOBS)

test-asan:
	cmake --preset asan >/dev/null
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan -j $(JOBS)

windows:
	@tools/deps.sh test
	cmake --preset mingw >/dev/null
	cmake --build --preset mingw -j $(JOBS)

test-windows: windows
	tools/run-windows-tests.sh build/mingw

# The Windows downloads: the per-user installer, and the zip of the DLL, kelvane.exe,
# kelvane-view.exe, install scripts and read-me for those who want none.
VERSION := $(shell tools/version.sh)
windows-package: windows
	@tools/deps.sh package
	tools/windows-msi.sh build/mingw build/kelvane-$(VERSION)-x64.msi
	tools/windows-package.sh build/mingw build/kelvane-windows-x64.zip

# The Linux download: a .deb of the tool, its thumbnailer entry and the images' MIME types.
linux-package:
	@tools/deps.sh build package
	cmake --preset release >/dev/null
	cmake --build --preset release -j $(JOBS)
	cpack --config build/release/CPackConfig.cmake -G DEB -B build
	@echo "The Linux package is $(CURDIR)/build/kelvane_$(VERSION)_amd64.deb"

# The README's pictures, made again from the sources: the preview (DLL under Wine) and thumbnails.
pictures: windows
	@tools/deps.sh build pictures
	cmake --preset release >/dev/null
	cmake --build --preset release -j $(JOBS)
	tools/make-pictures.sh build/mingw build/release

bench:
	@tools/deps.sh bench
	cmake --preset bench >/dev/null
	cmake --build --preset bench -j $(JOBS)
	@for b in build/bench/bench/bench_*; do echo "== $$b"; $$b; done

# The preview DLL's timings under Wine (Initialize + DoPreview, one paint; the drop write).
bench-windows: windows
	tools/bench-windows.sh build/mingw

# Runs every fuzz target for FUZZ_SECONDS on a copy of its saved inputs; new inputs that add
# coverage are merged back into fuzz/corpus/<target>/.
fuzz:
	@tools/deps.sh fuzz
	cmake --preset fuzz >/dev/null
	cmake --build --preset fuzz -j $(JOBS)
	@set -e; for f in build/fuzz/fuzz/fuzz_*; do \
	  name=$${f##*/fuzz_}; work=build/fuzz/work/$$name; mkdir -p $$work fuzz/corpus/$$name; \
	  echo "== $$name for $(FUZZ_SECONDS) s"; \
	  $$f -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 -artifact_prefix=build/fuzz/ $$work fuzz/corpus/$$name; \
	  $$f -merge=1 fuzz/corpus/$$name $$work >/dev/null 2>&1; \
	done

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf build

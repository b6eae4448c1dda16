# Thin front door over CMake presets. Every target installs what is missing first.
.PHONY: deps test check asan tsan fuzz bench demo clean

JOBS ?= $(shell nproc)
WERROR := $(if $(CI),-DKESTREL_WERROR=ON,)

deps:
	@scripts/install-deps.sh

test: deps
	cmake --preset default $(WERROR) >/dev/null
	cmake --build --preset default -j $(JOBS)
	ctest --preset default

asan: deps
	cmake --preset asan >/dev/null
	cmake --build --preset asan -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp:print_suppressions=0 ctest --preset asan

# The tool's end-to-end tests run the ipcam program and wait out its seconds; the default and
# ASan runs keep them, the race detector learns nothing more from them than from the rest. The
# network table weighs what arrives in real time against FFmpeg: under the race detector the
# client runs many times slower than a camera sends, and the real-server table runs the same
# code paths.
tsan: deps
	cmake --preset tsan >/dev/null
	cmake --build --preset tsan -j $(JOBS)
	TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$(CURDIR)/tests/tsan.supp setarch $$(uname -m) -R ctest --preset tsan -E '^(Cli(EndToEnd|NoConnection)|NetworkConditions)\.'

fuzz: deps
	cmake --preset fuzz >/dev/null
	cmake --build --preset fuzz -j $(JOBS) --target fuzzers
	scripts/run-fuzzers.sh build-fuzz

check: test asan tsan fuzz

bench: deps
	cmake --preset default >/dev/null
	cmake --build --preset default -j $(JOBS)
	@for b in build/bench/*_bench; do echo "== $$b"; $$b --benchmark_counters_tabular=true; done
	@echo "== bench/e2e.sh"; bench/e2e.sh build

demo: deps
	cmake --preset default >/dev/null
	cmake --build --preset default -j $(JOBS) --target kestrel kestrel-camsim ipcam-cli
	scripts/demo.sh build

clean:
	rm -rf build build-asan build-tsan build-fuzz

# The two commands a new user needs: `make run` and `make test`. Both install what is missing.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_ARGS ?=
# cmake --build runs make inside make, which would announce every folder it enters.
MAKEFLAGS += --no-print-directory
ifeq ($(CI),true)
CMAKE_ARGS += -DOSTRIM_WARNINGS_AS_ERRORS=ON
endif

.PHONY: all deps configure build test run clean fuzz sanitize soak bench package package-check \
	clean-room windows test-windows release reproducible-check

all: build

deps:
	@bash scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD) -DBUILD_TESTING=ON $(CMAKE_ARGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

# The program alone, with only what it needs installed: the tests, fuzzers and benchmarks are
# built by `make test` and `make bench`, in the same build folder.
run:
	@bash scripts/install-deps.sh run
	@cmake -S . -B $(BUILD) -DBUILD_TESTING=OFF $(CMAKE_ARGS) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS) --target ostrim
	@$(BUILD)/ostrim

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)
	@if command -v clang++ >/dev/null; then $(MAKE) --no-print-directory fuzz; fi

# A few seconds of libFuzzer on each target, in a clang build of its own.
FUZZ_BUILD ?= build-fuzz
fuzz: deps
	@cmake -S . -B $(FUZZ_BUILD) -DCMAKE_CXX_COMPILER=clang++ -DOSTRIM_FUZZ=ON $(CMAKE_ARGS) >/dev/null
	@cmake --build $(FUZZ_BUILD) -j $(JOBS) --target ostrim_fuzz
	@cd $(FUZZ_BUILD) && ctest -L fuzz --output-on-failure -j $(JOBS)

# The whole suite under AddressSanitizer and UndefinedBehaviorSanitizer.
ASAN_BUILD ?= build-asan
# The network test's count of hundreds of presses is `make test`'s; here a few find memory errors.
SANITIZER_ENV = OSTRIM_NETWORK_PRESSES=30 \
	ASAN_OPTIONS=detect_stack_use_after_return=1:strict_init_order=1 \
	LSAN_OPTIONS=suppressions=$(CURDIR)/tests/sanitizers/leaks.supp:print_suppressions=0 \
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
sanitize: deps
	@cmake -S . -B $(ASAN_BUILD) -DOSTRIM_SANITIZE=ON $(CMAKE_ARGS) >/dev/null
	@cmake --build $(ASAN_BUILD) -j $(JOBS)
	@cd $(ASAN_BUILD) && $(SANITIZER_ENV) ctest --output-on-failure -j $(JOBS)

# 100,000 actions on a pseudo-terminal; `make test` runs 2,000 of them.
soak: build
	@OSTRIM_SOAK_ACTIONS=100000 $(BUILD)/tests/soak/tst_soak

# Benchmarks and start-up figures; writes its report to $(BUILD)/bench/report.md.
bench: deps
	@bash scripts/install-deps.sh bench
	@cmake -S . -B $(BUILD) -DBUILD_TESTING=ON $(CMAKE_ARGS) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)
	@bash bench/run.sh $(BUILD)

# The Debian package, from a build of its own with Debian's flags (hardening included) and without
# the tests; writes $(PACKAGE_BUILD)/ostrim_<version>_<arch>.deb.
PACKAGE_BUILD ?= build-package
DEB_FLAGS = DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get
package: deps
	@CXXFLAGS="$$($(DEB_FLAGS) CXXFLAGS) $$($(DEB_FLAGS) CPPFLAGS)" LDFLAGS="$$($(DEB_FLAGS) LDFLAGS)" \
		cmake -S . -B $(PACKAGE_BUILD) -DCMAKE_BUILD_TYPE=None -DBUILD_TESTING=OFF $(CMAKE_ARGS) >/dev/null
	@cmake --build $(PACKAGE_BUILD) -j $(JOBS)
	@cd $(PACKAGE_BUILD) && rm -f ostrim_*.deb && cpack >/dev/null
	@ls $(PACKAGE_BUILD)/ostrim_*.deb

# lintian, then an install, a run and a purge in a fresh Debian 12 made by debootstrap. Needs root.
package-check: package
	@bash scripts/install-deps.sh package
	@bash scripts/package-check.sh $(PACKAGE_BUILD)/ostrim_*.deb

# README's two commands proven from nothing: Debian 12 and 13 made by debootstrap, each fresh, and
# Debian 12 again with Google Benchmark's development package in it. Needs root.
clean-room:
	@bash scripts/install-deps.sh package
	@bash scripts/clean-room.sh

# The programs and their tests for 64-bit Windows, cross-built with MinGW-w64 and linked
# statically, and the zip for Windows users, $(WINDOWS_BUILD)/ostrim-<version>-windows-x64.zip;
# needs no Qt. `make test-windows` runs the tests under Wine, which only ever runs inside
# scripts/wine-sandbox.sh: a /dev of its own with no serial device, a prefix in the build folder.
WINDOWS_BUILD ?= build-windows
windows:
	@bash scripts/install-deps.sh windows
	@cmake -S . -B $(WINDOWS_BUILD) --toolchain cmake/mingw-w64-x86_64.cmake $(CMAKE_ARGS) >/dev/null
	@cmake --build $(WINDOWS_BUILD) -j $(JOBS)
	@ls $(WINDOWS_BUILD)/ostrim-*-windows-x64.zip

test-windows: windows
	@cd $(WINDOWS_BUILD) && ctest --output-on-failure -j $(JOBS)

# dist/: the Debian package, the Windows zip, the source tarball and SHA256SUMS, every date in
# them the last commit's, so that anyone can rebuild the same bytes (docs/release.md).
release: deps
	@bash scripts/install-deps.sh windows
	@CMAKE_ARGS="$(CMAKE_ARGS)" PACKAGE_BUILD="$(PACKAGE_BUILD)" bash scripts/release.sh

# The release of the last commit built twice, from fresh clones in other folders, later and under
# another umask, and compared byte for byte.
reproducible-check: deps
	@bash scripts/install-deps.sh windows
	@bash scripts/reproducible-check.sh

clean:
	rm -rf $(BUILD) $(FUZZ_BUILD) $(ASAN_BUILD) $(PACKAGE_BUILD) $(WINDOWS_BUILD)

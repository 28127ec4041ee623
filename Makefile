# make demo [LINK='quarrion://host:port/password']   open a link with quarrion_shell.exe under Wine
# make demo-linux                                    the same from Linux programs, through Wine
# make test                                          build everything and run every test
# make crash-table                                   setup and the uninstall stopped after every step
# make crash-loop [CRASH_LOOP_ROUNDS=3]              ... and at random changes, run again
# make crash-linux                                   the Linux registrar killed at each step, run again
# make check-flatpak                                 setup in a Wine launcher installed with real Flatpak
# make dist                                          dist/: the program, its installer, notices, SBOM, sums
# make verify-dist [SIGN_CA=ca.pem SIGNER_SHA256=…]  check dist/ against SHA256SUMS, the signer and
#                  [SIGN_TSA_CA=tsa-ca.pem]          the signatures' time stamps
# Both install what is missing first (Debian, as root).

LINK ?= quarrion://127.0.0.1:27960/secret
FUZZ_SECONDS ?= 60
FUZZ_BRIEF_SECONDS ?= 6
WINDOWS_BUILD := build/windows-x86
# Quoted wherever a recipe uses it: the work tree's path may hold blanks.
WINE_PREFIX := $(CURDIR)/$(WINDOWS_BUILD)/wineprefix
WINE_RUN := tests/wine/wine-run.sh "$(WINE_PREFIX)"

.PHONY: all deps native windows fuzz-build fuzz fuzz-run bench-build bench bench-click analysis test demo \
	crash-table crash-loop demo-linux crash-linux check-flatpak dist verify-dist clean format format-check

all: native windows

deps:
	tools/install-deps.sh

native: deps
	cmake --preset native
	cmake --build --preset native

windows: deps
	cmake --preset windows-x86
	cmake --build --preset windows-x86

# The link logic, and the readers and editors of the text other programs may have changed, under
# libFuzzer with ASan and UBSan; any finding fails. Each target runs FUZZ_SECONDS (make test: a
# few); new inputs are kept in build/fuzz/corpus/<target>, the seeds in tests/fuzz/corpus/<target>.
FUZZ_TARGETS := link record plan mimeapps desktop_entry home_records flatpak
fuzz-build: deps
	cmake --preset fuzz
	cmake --build --preset fuzz

fuzz: fuzz-build fuzz-run

fuzz-run:
	@echo "fuzzing $(FUZZ_TARGETS), $(FUZZ_SECONDS) s each (logs: build/fuzz/<target>.log)"
	@status=0; for target in $(FUZZ_TARGETS); do \
		tests/fuzz/run-target.sh $$target $(FUZZ_SECONDS) || status=1; \
	done; exit $$status

# Google Benchmark of the link logic, optimised and without sanitizers; prints the fitted complexity.
bench-build: deps
	cmake --preset bench
	cmake --build --preset bench

bench: bench-build
	build/bench/bin/link_benchmark

# Click to game under Wine: RUNS launches through quarrion_shell.exe against RUNS direct starts.
RUNS ?= 50
bench-click: windows
	$(WINE_RUN) $(WINDOWS_BUILD)/bin/click_to_game.exe $(RUNS)

analysis: native windows fuzz-build bench-build
	tools/static-analysis.sh

# clang-format alone, in a second: what make analysis (and so make test) refuses first.
format-check:
	clang-format --dry-run --Werror $$(git ls-files '*.cpp' '*.hpp')
format:
	clang-format -i $$(git ls-files '*.cpp' '*.hpp')

# The fuzz targets run briefly beside the static analysis; then the two prefixes' tests run side by
# side, and beside them, each in a prefix of its own, the release check, which builds two clean
# clones and signs one with a throwaway CA, and the Linux desktop check, which opens links from Linux programs
# (xdg-open, GIO, the desktop portal, KDE, Firefox and Chromium under Xvfb) and measures the table
# of characters in docs/links.md. The Wine servers of every prefix are stopped at the end whatever
# the outcome, so nothing is left running.
test: native windows fuzz-build bench-build
	@status=0; $(MAKE) --no-print-directory fuzz-run FUZZ_SECONDS=$(FUZZ_BRIEF_SECONDS) \
		>build/fuzz-run.log 2>&1 & fuzzing=$$!; \
	tools/static-analysis.sh || status=$$?; \
	wait $$fuzzing || status=$$?; cat build/fuzz-run.log; exit $$status
	ctest --preset native
	status=0; \
	tests/release/check-release.sh "$(WINE_PREFIX)-release" >build/check-release.log 2>&1 & releasing=$$!; \
	tests/linux_desktop/check-linux-desktop.sh "$(WINE_PREFIX)-linux-win64" "$(WINDOWS_BUILD)/bin" \
		>build/check-linux-desktop.log 2>&1 & linux=$$!; \
	ctest --preset windows-x86 -E '(^|/)(CrashTable/|GateTable/|CrashLoop\.)' || status=$$?; \
	wait $$linux || status=$$?; cat build/check-linux-desktop.log; \
	wait $$releasing || status=$$?; cat build/check-release.log; \
	for prefix in "" -win64 -release -linux-win64; do \
		WINEPREFIX="$(WINE_PREFIX)$$prefix" wineserver -k 2>/dev/null || true; \
	done; exit $$status

# The whole crash table (make test runs a fixed part of it, one row of each journey): setup, an
# upgrade, a move and the uninstall stopped dead after each step, inside the writes too, in both
# modes and prefixes, then run again; the machine must be as before. With it, a registry link at
# every key of setup's plan in both modes (make test: one mode, the outermost keys).
crash-table: windows
	status=0; ctest --preset windows-x86 -R '(^|/)(CrashTable|GateTable)/' || status=$$?; \
	WINEPREFIX="$(WINE_PREFIX)" wineserver -k 2>/dev/null || true; \
	WINEPREFIX="$(WINE_PREFIX)-win64" wineserver -k 2>/dev/null || true; exit $$status

# Setup and the uninstall stopped dead at a random change: CRASH_LOOP_ROUNDS rounds of up to 15
# kills in each prefix. Each round prints its seed; CRASH_LOOP_SEED=<seed> runs its kills again.
CRASH_LOOP_ROUNDS ?= 3
crash-loop: export QUARRION_CRASH_LOOP_SEED = $(CRASH_LOOP_SEED)
crash-loop: windows
	status=0; ctest --preset windows-x86 -R '(^|/)CrashLoop\.' -V \
		--repeat until-fail:$(CRASH_LOOP_ROUNDS) || status=$$?; \
	WINEPREFIX="$(WINE_PREFIX)" wineserver -k 2>/dev/null || true; \
	WINEPREFIX="$(WINE_PREFIX)-win64" wineserver -k 2>/dev/null || true; exit $$status

# In the 64-bit prefix, where the 32-bit program runs under WoW64 as on players' Windows.
demo: export QUARRION_DEMO_LINK = $(LINK)
demo: export QUARRION_PREFIX_KIND = win64
demo: windows
	$(WINE_RUN) $(WINDOWS_BUILD)/bin/demo.exe

# A Linux player's path, in throwaway HOME and XDG folders: setup run under Wine registers
# quarrion:// with the Linux desktop, then xdg-open, GIO, KDE, the portal, Firefox and Chromium
# (under Xvfb) open links, and every printable character must arrive as docs/links.md shows.
demo-linux: windows
	tests/linux_desktop/check-linux-desktop.sh "$(WINE_PREFIX)-win64" "$(WINDOWS_BUILD)/bin"

# The Linux registrar killed at every step of setup and of the uninstall, then run again (47 rows,
# 1 to 1.5 min; make test and make demo-linux run a fixed part of it).
crash-linux: windows
	tests/linux_desktop/crash-table.sh "$(WINE_PREFIX)-win64" "$(WINDOWS_BUILD)/bin" all

# Setup in a Wine launcher installed as a Flatpak, with real Flatpak, offline: a runtime made of this
# machine's Wine, built once in build/flatpak (a minute or two), and throwaway HOME and XDG folders
# in $(WINE_PREFIX)-flatpak, which holds the launcher's prefix. One row alone:
# make check-flatpak CHECK_FLATPAK_ONLY=<row>. Every Wine server of the launcher is stopped at the end.
check-flatpak: windows
	tests/flatpak/check-flatpak.sh "$(WINE_PREFIX)-flatpak" "$(WINDOWS_BUILD)/bin"

# The release in $(DIST): the program, its installer, BUILDINFO, the third-party notices, the SPDX
# bill of materials and SHA256SUMS, built apart from the
# tests so that it is the same bytes wherever and whenever it is built (time stamps:
# SOURCE_DATE_EPOCH, by default the commit's time). Refuses a tree with uncommitted changes unless
# ALLOW_DIRTY=1, and a DIST holding anything but a previous release. Signed with
# SIGN_PFX=<PKCS#12 file> SIGN_PASSWORD_FILE=<file> [SIGN_TIMESTAMP_URL=<RFC 3161 server>]
# [SIGN_CA=<CA, PEM; default: the system's>], and verified before it is called a release.
# The scripts take every setting from the environment, so no path is parsed by a shell.
DIST ?= dist
export DIST ALLOW_DIRTY SIGN_PFX SIGN_PASSWORD_FILE SIGN_TIMESTAMP_URL SIGN_CA SIGNER_SHA256 \
	ALLOW_ANY_SIGNER SIGN_TSA_CA
dist: deps
	tools/dist.sh

# Checks $(DIST) against its SHA256SUMS and, with SIGN_CA=<CA certificate, PEM> and
# SIGNER_SHA256=<the publisher certificate's fingerprint>, every signature; with
# SIGN_TSA_CA=<the time-stamping authority's CA, PEM>, every signature's time stamp.
verify-dist:
	tools/verify-dist.sh

# dist/ loses only a release's own files, and goes only when nothing else is in it.
RELEASE_FILES := $(shell . tools/release-files.sh && echo "$$release_files")
clean:
	rm -rf build
	cd dist 2>/dev/null && rm -f $(RELEASE_FILES) || true
	rmdir dist 2>/dev/null || true

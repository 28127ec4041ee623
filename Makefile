# make demo [LINK='quarrion://host:port/password']   open a link with quarrion_shell.exe under Wine
# make test                                          build everything and run every test
# make dist                                          dist/: the program, its installer, SHA256SUMS
# Both install what is missing first (Debian, as root).

LINK ?= quarrion://127.0.0.1:27960/secret
WINDOWS_BUILD := build/windows-x86
WINE_PREFIX := $(CURDIR)/$(WINDOWS_BUILD)/wineprefix
WINE_RUN := tests/wine/wine-run.sh $(WINE_PREFIX)

.PHONY: all deps native windows test demo dist clean

all: native windows

deps:
	tools/install-deps.sh

native: deps
	cmake --preset native
	cmake --build --preset native

windows: deps
	cmake --preset windows-x86
	cmake --build --preset windows-x86

# The Wine server is stopped at the end whatever the outcome, so nothing is left running.
test: native windows
	ctest --preset native
	status=0; ctest --preset windows-x86 || status=$$?; \
	WINEPREFIX=$(WINE_PREFIX) wineserver -k 2>/dev/null || true; exit $$status

demo: export QUARRION_DEMO_LINK = $(LINK)
demo: windows
	$(WINE_RUN) $(WINDOWS_BUILD)/bin/demo.exe

# What a release ships, with checksums.
dist: windows
	rm -rf dist
	mkdir -p dist
	cp $(WINDOWS_BUILD)/bin/quarrion_shell.exe $(WINDOWS_BUILD)/bin/quarrion_shell_setup.exe dist/
	cd dist && sha256sum quarrion_shell.exe quarrion_shell_setup.exe > SHA256SUMS
	cat dist/SHA256SUMS

clean:
	rm -rf build dist

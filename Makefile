# The two commands: `make test` and `make demo`. Everything else is a step of theirs.
SHELL := /bin/bash
PRESETS := native win64 win32
JOBS ?= $(shell nproc)
export CTEST_OUTPUT_ON_FAILURE := 1

.PHONY: all setup configure build test demo bench screenshots clean

all: build

# Quick when everything is installed already.
setup:
	@bash scripts/setup.sh

configure: setup
	@for p in $(PRESETS); do \
	  [ -f build/$$p/build.ninja ] || cmake --preset $$p $(CMAKE_ARGS) >/dev/null || exit 1; \
	done

build: configure
	@for p in $(PRESETS); do \
	  echo "== build $$p"; cmake --build --preset $$p -j $(JOBS) || exit 1; \
	done
	@bash scripts/collect-tests.sh

test: build
	@bash scripts/wine-run.sh $(CURDIR)/build/win64/wineprefix --start
	@cd build && ctest -j $(JOBS) --timeout 900; rc=$$?; \
	  bash ../scripts/wine-run.sh $(CURDIR)/build/win64/wineprefix --stop; exit $$rc

# GUI=1: with the dialogs on $$DISPLAY.
demo: build
	@GUI=$(GUI) bash scripts/demo.sh

# Benchmarks print ratios against a peer measured in the same run; they are not tests.
bench: build
	@set -e; for b in bench/*.sh; do [ -f "$$b" ] || continue; bash "$$b"; done

# Pictures of every dialog state at 96 and 144 DPI, kept as artifacts; not part of the tests.
screenshots: build
	@python3 tools/screenshots.py $(CURDIR)/scripts/wine-run.sh $(CURDIR)/build/win64/wineprefix-gui \
	  $(CURDIR)/build/win64/tools/ScreenshotWalk.exe $(CURDIR)/build/win64/screenshots en ja ru

clean:
	rm -rf build

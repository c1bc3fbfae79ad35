# Entry points for a fresh Debian machine: each target installs the Debian
# packages it needs (when missing), configures and builds.
PRESET ?= default

.PHONY: deps build test

deps:
	@bash .ci/install-deps

build: deps
	cmake --preset $(PRESET)
	cmake --build --preset $(PRESET)

test: build
	ctest --preset $(PRESET)

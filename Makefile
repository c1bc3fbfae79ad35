# Entry points for a fresh Debian machine: each target installs the Debian
# packages it needs (when missing), configures and builds.
PRESET ?= default
SECONDS ?= 10

.PHONY: deps build test demo

deps:
	@bash .ci/install-deps

build: deps
	cmake --preset $(PRESET)
	cmake --build --preset $(PRESET)

test: build
	ctest --preset $(PRESET)

# Only the command and what it links: tests, benchmarks and fuzz replays wait for `make test`.
demo: deps
	cmake --preset $(PRESET)
	cmake --build --preset $(PRESET) --target tavo_cli
	./build/$(PRESET)/cli/tavo demo --seconds $(SECONDS)

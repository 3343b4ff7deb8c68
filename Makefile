# The two commands: `make test` and `make demo`. Each installs what is missing first.
BUILD ?= build
JOBS ?= 2

.PHONY: deps configure build test demo bench clean

deps:
	@scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

build: configure
	@cmake --build $(BUILD) -j$(JOBS)

test: build
	@cd $(BUILD) && ctest --output-on-failure -j$(JOBS)

demo: build
	@$(BUILD)/bin/greyfox demo

bench: build
	@scripts/run-benchmarks.sh $(BUILD)

clean:
	rm -rf $(BUILD)

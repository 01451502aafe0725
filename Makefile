# Front door of the build. `make` builds everything into build/;
# `make demo` packs and runs the example application; `make test` runs every test in a
# normal and a sanitizer build.
BUILD ?= build
JOBS ?= $(shell nproc)

.PHONY: all deps demo test bench gfx-bench gc-stress fuzz clean

all: deps
	@test -f $(BUILD)/build.ninja || cmake -S . -B $(BUILD) -G Ninja
	cmake --build $(BUILD) -j $(JOBS)

deps:
	@scripts/deps.sh

# Packs the example application (examples/notebook) and runs it.
demo: all
	@mkdir -p $(BUILD)/demo
	$(BUILD)/talven pack examples/notebook/notebook.app -o $(BUILD)/demo/notebook.RI
	$(BUILD)/talven $(BUILD)/demo/notebook.RI

test: deps
	@scripts/test.sh

gc-stress: deps
	@test -f build-gc/build.ninja || cmake -S . -B build-gc -G Ninja -DTALVEN_GC_STRESS=ON
	cmake --build build-gc -j $(JOBS)
	cd build-gc && ctest --output-on-failure -j $(JOBS)

fuzz: deps
	@scripts/fuzz.sh

clean:
	rm -rf build build-asan build-gc build-fuzz

gfx-bench: all
	$(BUILD)/gfx_bench

bench: all
	@bench/peers/install.sh
	python3 bench/run.py

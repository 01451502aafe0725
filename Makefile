# Front door of the build. `make` builds everything into build/;
# `make demo` packs and runs the example application; `make test` runs every test in a
# normal and a sanitizer build.
BUILD ?= build
JOBS ?= $(shell nproc)

.PHONY: all deps demo test bench gfx-bench dispatch-bench gc-stress fuzz clean

all: deps
	@test -f $(BUILD)/build.ninja || cmake -S . -B $(BUILD) -G Ninja
	cmake --build $(BUILD) -j $(JOBS)

deps:
	@scripts/deps.sh

# Packs the example applications and runs them: the notebook, then the
# tiles driven headless by its script, which leaves its screenshots in
# $(BUILD)/demo.
demo: all
	@mkdir -p $(BUILD)/demo
	$(BUILD)/talven pack examples/notebook/notebook.app -o $(BUILD)/demo/notebook.RI
	$(BUILD)/talven $(BUILD)/demo/notebook.RI
	$(BUILD)/talven pack examples/tiles/tiles.app -o $(BUILD)/demo/tiles.RI
	cd $(BUILD)/demo && $(abspath $(BUILD))/talven run --input $(CURDIR)/examples/tiles/demo.txt tiles.RI
	@echo "the tiles example ran headless: its screenshots are $(BUILD)/demo/tiles-1.png and tiles-2.png"
	$(BUILD)/talven pack examples/slides/slides.app -o $(BUILD)/demo/slides.RI
	cd $(BUILD)/demo && $(abspath $(BUILD))/talven run --input $(CURDIR)/examples/slides/demo.txt slides.RI
	@echo "the slides example ran headless: its screenshots are $(BUILD)/demo/slides-1.png to slides-3.png"

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

dispatch-bench: all
	python3 bench/dispatch_bench.py --talven $(BUILD)/talven

bench: all
	@bench/peers/install.sh
	python3 bench/run.py

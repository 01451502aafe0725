# Front door of the build. `make` builds everything into build/;
# `make demo` packs and runs the slide show; `make examples` every example; `make test` runs every test in a
# normal and a sanitizer build.
BUILD ?= build
JOBS ?= $(shell nproc)

.PHONY: all deps demo examples test bench gfx-bench draw-bench dispatch-bench gc-stress fuzz clean

all: deps
	@test -f $(BUILD)/build.ninja || cmake -S . -B $(BUILD) -G Ninja
	cmake --build $(BUILD) -j $(JOBS)

deps:
	@scripts/deps.sh

# Packs the slide show and runs it: in a window when there is a desktop to
# show it on, otherwise headless, driven by its test script, leaving its
# screenshots in $(BUILD)/demo.
demo: all
	@mkdir -p $(BUILD)/demo
	$(BUILD)/talven pack examples/slideshow/slideshow.app -o $(BUILD)/demo/slideshow.RI
	@if [ -n "$${DISPLAY:-}$${WAYLAND_DISPLAY:-}" ] && [ -z "$${CI:-}" ]; then \
	  echo "$(BUILD)/talven $(BUILD)/demo/slideshow.RI"; \
	  $(BUILD)/talven $(BUILD)/demo/slideshow.RI; \
	else \
	  echo "no desktop: the slide show runs headless from examples/slideshow/test.input"; \
	  cd $(BUILD)/demo && $(abspath $(BUILD))/talven run --input $(CURDIR)/examples/slideshow/test.input slideshow.RI && \
	  echo "its screenshots are $(BUILD)/demo/slideshow-1.png to slideshow-3.png"; \
	fi

# Packs every example into $(BUILD)/examples and runs each headless with
# its test script (the notebook and hello run as they are).
examples: all
	@mkdir -p $(BUILD)/examples
	@set -e; for m in examples/*/*.app; do \
	  n=$$(basename $$m .app); \
	  $(BUILD)/talven pack $$m -o $(BUILD)/examples/$$n.RI; \
	  if [ -f $$(dirname $$m)/test.input ]; then \
	    (cd $(BUILD)/examples && $(abspath $(BUILD))/talven run --input $(CURDIR)/$$(dirname $$m)/test.input $$n.RI); \
	  else \
	    (cd $(BUILD)/examples && $(abspath $(BUILD))/talven $$n.RI) || [ $$? -eq 1 ]; \
	  fi; \
	done
	@echo "packed and ran every example: $(BUILD)/examples"

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

draw-bench: all
	$(BUILD)/draw_bench

dispatch-bench: all
	python3 bench/dispatch_bench.py --talven $(BUILD)/talven

bench: all
	@bench/peers/install.sh
	python3 bench/run.py

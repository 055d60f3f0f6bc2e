# Two entry points: `make demo` and `make test` (see README.md).
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
ifneq ($(CI),)
CMAKE_FLAGS += -DVS32_WERROR=ON
endif
DEMO_DIR ?= $(BUILD)/demo

.PHONY: demo test setup build bench format clean fuzz test-asan test-tsan package

demo: setup
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS) >/dev/null
	cmake --build $(BUILD) -j $(JOBS) --target vs32gen vs32decode
	@mkdir -p $(DEMO_DIR)
	@echo "== frame of Q1ABC =="
	@$(BUILD)/vs32gen --frame Q1ABC
	@echo "== generating a 35-minute recording: Q1ABC at -20 dB, QA2XY at -28 dB (in 2500 Hz) =="
	@$(BUILD)/vs32gen -o $(DEMO_DIR)/261208_1200.wav --seed 7 \
	    --station Q1ABC:1482.5203:-20:40 --station QA2XY:1515.0407:-28:60
	@printf 'Q1ABC JO65HO\nQA2XY IO91WM\n' > $(DEMO_DIR)/callsloc.txt
	@echo "== decoding it with vs32decode (stations listed in $(DEMO_DIR)/callsloc.txt) =="
	@$(BUILD)/vs32decode --lists $(DEMO_DIR) --timing $(DEMO_DIR)/261208_1200.wav

test: setup build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

setup:
	@./scripts/setup

build:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS) >/dev/null
	cmake --build $(BUILD) -j $(JOBS)

bench: setup build
	$(BUILD)/vs32bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD)

# Robustness: sanitizer builds of the tests, and the fuzz targets (scripts/ says how).
test-asan: setup
	./scripts/test-sanitizer address

test-tsan: setup
	./scripts/test-sanitizer thread

fuzz: setup
	./scripts/fuzz $(FUZZ_SECONDS)

# A Debian package of the programs (build/*.deb).
package: setup build
	cd $(BUILD) && cpack -G DEB

# Long run, not part of CI: 24 hours of synthetic audio (SOAK_HOURS to change)
# through the sound device, the receive worker and results processing, faster
# than real time, with worker restarts; reports decodes, memory and leftovers.
.PHONY: soak
soak: setup
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS) >/dev/null
	cmake --build $(BUILD) -j $(JOBS) --target vs32soak
	$(BUILD)/vs32soak --hours $(or $(SOAK_HOURS),24)

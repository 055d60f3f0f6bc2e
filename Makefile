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
	@mkdir -p $(BUILD)/bench-data/full
	@test -f $(BUILD)/bench-data/two.wav || $(BUILD)/vs32gen -o $(BUILD)/bench-data/two.wav --seed 7 \
	    --station Q1ABC:1482.5203:-20:40 --station QA2XY:1515.0407:-28:60 --line 1530:-10 >/dev/null
	@test -f $(BUILD)/bench-data/two-b.wav || $(BUILD)/vs32gen -o $(BUILD)/bench-data/two-b.wav --seed 8 \
	    --station Q1ABC:1482.5203:-20:40 --station QA2XY:1515.0407:-28:60 --line 1530:-10 >/dev/null
	@test -f $(BUILD)/bench-data/wide.wav || $(BUILD)/vs32gen -o $(BUILD)/bench-data/wide.wav --rate 48000 --seed 5 \
	    --station G4ABC:5980:-20:40 --station QA2XY:6010:-26:60 --line 6030:-10 >/dev/null
	@test -f $(BUILD)/bench-data/full/callsloc.txt || awk 'BEGIN { \
	    L = "ABCDEFGHIJKLMNOPQRSTUVWXYZ"; F = "ABCDEFGHIJKLMNOPQR"; S = "abcdefghijklmnopqrstuvwx"; \
	    print "Q1ABC JO65HO"; print "QA2XY IO91WM"; \
	    for (i = 0; i < 996; i++) \
	      print substr(L, i % 26 + 1, 1) substr(L, int(i / 26) % 26 + 1, 1) (i % 10) \
	            substr(L, (i * 7) % 26 + 1, 1) substr(L, (i * 11 + 3) % 26 + 1, 1) \
	            substr(L, (i * 13 + 5) % 26 + 1, 1) " " substr(F, i % 18 + 1, 1) \
	            substr(F, (i * 5) % 18 + 1, 1) (i % 10) (int(i / 10) % 10) \
	            substr(S, (i * 3) % 24 + 1, 1) substr(S, (i * 17) % 24 + 1, 1) }' \
	    > $(BUILD)/bench-data/full/callsloc.txt
	@echo "== vs32decode, default settings, one thread (35-minute recording, two stations) =="
	@for i in 1 2 3 4 5; do $(BUILD)/vs32decode --jobs 1 --timing $(BUILD)/bench-data/two.wav 2>&1 >/dev/null | head -1; done
	@echo "== vs32decode, 48000 samples/s path (F_CENTER 6000), one thread =="
	@for i in 1 2 3; do $(BUILD)/vs32decode --jobs 1 --timing --center 6000 $(BUILD)/bench-data/wide.wav 2>&1 >/dev/null | head -1; done
	@echo "== vs32decode, Ultra Deep and correlation with 998 known stations, one thread =="
	@for i in 1 2 3; do $(BUILD)/vs32decode --jobs 1 --timing --depth 2 --lists $(BUILD)/bench-data/full $(BUILD)/bench-data/two.wav 2>&1 >/dev/null | head -1; done
	@echo "== vs32decode, best-first list (--depth 3) of 157 and of 4096 messages, one thread =="
	@for k in 157 4096; do for i in 1 2 3; do $(BUILD)/vs32decode --jobs 1 --timing --depth 3 --list $$k $(BUILD)/bench-data/two.wav 2>&1 >/dev/null | head -1; done; done
	@echo "== vs32decode, two recordings with one job and with two (throughput; peak memory) =="
	@for j in 1 2; do $(BUILD)/vs32decode --jobs $$j --timing $(BUILD)/bench-data/two.wav $(BUILD)/bench-data/two-b.wav 2>&1 >/dev/null | tail -1; done
	@echo "== vs32decode, one recording: peak memory =="
	@$(BUILD)/vs32decode --jobs 1 --timing $(BUILD)/bench-data/two.wav 2>&1 >/dev/null | tail -1

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

# Decoder sensitivity, not part of CI (about 10 minutes on 2 cores): decode rate
# against SNR and phantom decodes per hour, written to docs/sensitivity.svg and
# docs/sensitivity.md. SNRS, SEEDS, CURVES, NOISE_HOURS, OUT: see the script.
.PHONY: sensitivity
sensitivity: setup
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS) >/dev/null
	cmake --build $(BUILD) -j $(JOBS) --target vs32gen vs32decode
	BUILD=$(BUILD) JOBS=$(JOBS) ./scripts/sensitivity

# Raspberry Pi (64-bit ARM): the engine, vs32decode, vs32gen and the tests that
# need no sound card, built with Debian's cross compiler (cmake/aarch64-linux-gnu.cmake);
# the unit and golden tests then run under qemu-user. Emulated floating point
# is about 100 times slower than native, hence the long test timeouts; a unit
# test that measures wall-clock time gets a second try. Not part of CI: 38 min
# of CPU, 69 min on a busy 2-core machine (docs/robustness.md).
CROSS_BUILD ?= build-arm64
CROSS_CTEST = cd $(CROSS_BUILD) && ctest --output-on-failure -j $(JOBS) --timeout 7200
.PHONY: cross-arm64
cross-arm64:
	./scripts/setup --cross-arm64
	cmake -S . -B $(CROSS_BUILD) -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS) \
	    -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake -DVS32_SOUND=OFF \
	    -DVS32_BUILD_BENCH=OFF -DVS32_GTEST_SOURCE_DIR=/usr/src/googletest >/dev/null
	cmake --build $(CROSS_BUILD) -j $(JOBS)
	$(CROSS_CTEST) -L unit --repeat until-pass:2
	$(CROSS_CTEST) -R '^GoldenChain\.'

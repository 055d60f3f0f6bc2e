# Two entry points: `make demo` and `make test` (see README.md).
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
ifneq ($(CI),)
CMAKE_FLAGS += -DVS32_WERROR=ON
endif
DEMO_DIR ?= $(BUILD)/demo

.PHONY: demo test setup build bench format clean

demo: setup build
	@mkdir -p $(DEMO_DIR)
	@echo "== frame of Q1ABC =="
	@$(BUILD)/vs32gen --frame Q1ABC
	@$(BUILD)/vs32gen -o $(DEMO_DIR)/demo.wav --station Q1ABC:1500:-20 --duration 2100 --seed 1
	@echo "== wrote $(DEMO_DIR)/demo.wav =="

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

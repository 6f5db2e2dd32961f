# quell: the two commands.
#   make run   builds quellsim and the drivers and runs the default machine
#   make test  builds everything and runs every test, then again under the sanitizers
# Extra arguments for quellsim: make run ARGS="--driver mp"

BUILD ?= build
SANITIZE_BUILD ?= build-sanitize
JOBS ?= $(shell nproc)
ARGS ?=

.PHONY: run test check build sanitize clean toolchain

toolchain:
	@mkdir -p $(BUILD)
	@cmake/ensure-toolchain.sh | tail -n 1 > $(BUILD)/.emulator

build: toolchain
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DQUELL_EMULATOR="$$(cat $(BUILD)/.emulator)" >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	@$$(cat $(BUILD)/.emulator) $(BUILD)/bin/quellsim $(ARGS)

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)
	@$(MAKE) --no-print-directory check

# The same tests built with AddressSanitizer and UndefinedBehaviorSanitizer. Leak checking is
# off: it cannot run under the user-mode emulator.
check: toolchain
	@cmake -S . -B $(SANITIZE_BUILD) -DCMAKE_BUILD_TYPE=Debug -DQUELL_SANITIZE=ON \
	  -DQUELL_EMULATOR="$$(cat $(BUILD)/.emulator)" >/dev/null
	@cmake --build $(SANITIZE_BUILD) -j $(JOBS)
	@cd $(SANITIZE_BUILD) && ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD) $(SANITIZE_BUILD)

# Thin wrapper around the CMake presets. On a system without make, run
# `bash scripts/make.sh TARGET` instead: it installs make first.
#   make sim [ARGS="..."]   build the simulator only and start the simulated
#                           logger on this terminal (a new state directory is
#                           a board fresh from the factory; ARGS=--blank keeps
#                           it blank)
#   make test               build the simulator, the tests and both images, run
#                           every test but the benchmarks
#   make bench              the benchmarks: tests that print figures (label bench)
#   make firmware           build both images and print their sizes

JOBS ?= $(shell nproc)
ARGS ?=

.PHONY: sim test bench firmware images host configure bootstrap clean

bootstrap:
	@bash scripts/bootstrap.sh

# Configured again once the test packages are there, so that the tests
# appear in a tree that make sim configured without them.
configure:
	cmake --preset host >/dev/null

build/host/CMakeCache.txt:
	cmake --preset host >/dev/null

sim:
	@bash scripts/bootstrap.sh sim
	@$(MAKE) --no-print-directory build/host/CMakeCache.txt
	cmake --build --preset host --target phlogger-sim -j $(JOBS)
	build/host/phlogger-sim --factory $(ARGS)

host:
	@bash scripts/bootstrap.sh sim test
	@$(MAKE) --no-print-directory configure
	cmake --build --preset host -j $(JOBS)

build/%/CMakeCache.txt:
	cmake --preset $* >/dev/null

firmware:
	@bash scripts/bootstrap.sh sim firmware
	@$(MAKE) --no-print-directory images

images: build/ombrix/CMakeCache.txt build/tavlo/CMakeCache.txt
	cmake --build --preset ombrix -j $(JOBS)
	cmake --build --preset tavlo -j $(JOBS)

# make test: see scripts/test.sh (the real-time tests run while the rest
# of the build goes on beside them at a lower priority).
test:
	@bash scripts/bootstrap.sh
	@$(MAKE) --no-print-directory configure
	@bash scripts/test.sh $(JOBS)

bench: host
	ctest --preset bench

clean:
	rm -rf build

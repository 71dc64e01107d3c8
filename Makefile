# Thin wrapper around the CMake presets.
#   make sim [ARGS="..."]   build and start the simulated logger on this terminal
#                           (a new state directory is a board fresh from the
#                           factory; ARGS=--blank keeps it blank)
#   make test               build the simulator and both images, run every test
#   make firmware           build both images and print their sizes

JOBS ?= $(shell nproc)
ARGS ?=

.PHONY: sim test firmware host bootstrap clean

bootstrap:
	@scripts/bootstrap.sh

build/host/CMakeCache.txt: | bootstrap
	cmake --preset host >/dev/null

host: bootstrap build/host/CMakeCache.txt
	cmake --build --preset host -j $(JOBS)

sim: host
	build/host/phlogger-sim --factory $(ARGS)

build/%/CMakeCache.txt: | bootstrap
	cmake --preset $* >/dev/null

firmware: bootstrap build/ombrix/CMakeCache.txt build/tavlo/CMakeCache.txt
	cmake --build --preset ombrix -j $(JOBS)
	cmake --build --preset tavlo -j $(JOBS)

test: host firmware
	ctest --preset host -j $(JOBS)

clean:
	rm -rf build

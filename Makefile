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

# make test: the simulator first. Then the real-time tests, which wait on
# the wall clock and need nothing else, while the rest of the host build
# goes on beside them at a lower processor priority and the images at the
# lowest (they take nothing from a test that runs in real time); then every
# other test, the images still building in the time the tests leave free.
# The logs of the builds that ran beside the tests follow the results.
test:
	@bash scripts/bootstrap.sh
	@$(MAKE) --no-print-directory configure
	cmake --build --preset host --target phlogger-sim -j $(JOBS)
	@nice -n 19 $(MAKE) --no-print-directory images >build/images.log 2>&1 & images=$$!; \
	nice -n 10 cmake --build --preset host -j $(JOBS) >build/host-build.log 2>&1 & host=$$!; \
	ctest --preset realtime; realtime=$$?; \
	wait $$host; built=$$?; \
	if [ $$built -eq 0 ]; then ctest --preset host-rest -j $(JOBS); rest=$$?; \
	else cat build/host-build.log; echo "make test: the host build failed" >&2; rest=1; fi; \
	wait $$images; imaged=$$?; \
	if [ $$imaged -eq 0 ]; then grep -v '^\[' build/images.log; \
	else cat build/images.log; echo "make test: the images failed to build" >&2; fi; \
	[ $$realtime -eq 0 ] && [ $$rest -eq 0 ] && [ $$imaged -eq 0 ]

bench: host
	ctest --preset bench

clean:
	rm -rf build

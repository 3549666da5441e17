# The commands a new machine needs.
.PHONY: test run bench build clean

test:
	@scripts/test.sh

run:
	@scripts/run.sh

bench:
	@scripts/bench.sh

build:
	@scripts/install-deps.sh --test
	cmake --preset native && cmake --build --preset native -j$$(nproc)

clean:
	rm -rf build run

# The two commands a new machine needs.
.PHONY: test run build clean

test:
	@scripts/test.sh

run:
	@scripts/run.sh

build:
	@scripts/install-deps.sh
	cmake --preset native && cmake --build --preset native -j$$(nproc)

clean:
	rm -rf build run

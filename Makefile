# Shorthands for the scripts in scripts/.
ARGS ?= /report:all /verbose 127.0.0.1 localhost

.PHONY: run check build
run:
	bash scripts/run.sh $(ARGS)
check:
	bash scripts/check.sh
build:
	cmake --preset default
	cmake --build --preset default

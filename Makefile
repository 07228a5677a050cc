# The two commands a newcomer needs: `make run` shows the program at work, `make test` runs the
# whole suite. Both install what is missing on a Debian machine when run as root.

BUILD_DIR ?= build
WIN_BUILD_DIR ?= build-win
# The Windows suite runs with `make test` where the cross compiler and Wine are installed;
# WINDOWS_SUITE=no leaves it out.
WINDOWS_SUITE ?= yes
JOBS ?= 2
CMAKE_FLAGS ?=
DEB_PACKAGES := cmake g++ make libgtest-dev libpugixml-dev locales tzdata libevt-utils python3-libevt nginx-light curl \
  g++-mingw-w64-x86-64 wine wine64 googletest zip libxml2-utils
DEMO_DIR := demo

MINGW_CXX := x86_64-w64-mingw32-g++-posix
# Wine quietly, without offering to install its .NET and browser add-ons.
export WINEDEBUG ?= -all
export WINEDLLOVERRIDES ?= mscoree,mshtml=

.PHONY: all deps locales build test run windows windows-test dist clean

all: build

deps:
	@missing=$$(for p in $(DEB_PACKAGES); do dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q '^install ok installed' || echo $$p; done); \
	if [ -n "$$missing" ]; then \
	  if [ "$$(id -u)" = 0 ]; then \
	    echo "Installing:" $$missing; \
	    apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q $$missing; \
	  else \
	    echo "Please run: sudo apt-get install -y" $$missing; exit 1; \
	  fi; \
	fi

# The German locale serves the regional-settings tests; they skip where it is missing.
locales: deps
	@if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$$'; then \
	  if [ "$$(id -u)" = 0 ]; then \
	    sed -i 's/^# *\(de_DE.UTF-8 UTF-8\)/\1/; s/^# *\(en_US.UTF-8 UTF-8\)/\1/' /etc/locale.gen && locale-gen; \
	  else \
	    echo "The de_DE.UTF-8 locale is missing; its tests will be skipped."; \
	  fi; \
	fi

build: deps
	cmake -S . -B $(BUILD_DIR) $(CMAKE_FLAGS)
	cmake --build $(BUILD_DIR) -j$(JOBS)

test: locales build
	cd $(BUILD_DIR) && ctest --output-on-failure -j$(JOBS)
	@if [ "$(WINDOWS_SUITE)" != yes ]; then exit 0; \
	elif command -v $(MINGW_CXX) >/dev/null && command -v wine >/dev/null; then \
	  $(MAKE) --no-print-directory windows-test; \
	else \
	  echo "The cross compiler or Wine is missing: the Windows suite is left out."; \
	fi

# EventLog.exe, cross-built with mingw-w64 and linked statically.
windows: deps
	cmake -S . -B $(WIN_BUILD_DIR) -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-w64.cmake
	cmake --build $(WIN_BUILD_DIR) -j$(JOBS)

windows-test: windows
	cd $(WIN_BUILD_DIR) && ctest --output-on-failure

dist: build windows
	tools/dist.sh $(BUILD_DIR) $(WIN_BUILD_DIR)

run: build
	tools/demo.sh $(BUILD_DIR) $(DEMO_DIR)

clean:
	rm -rf $(BUILD_DIR) $(WIN_BUILD_DIR) $(DEMO_DIR)

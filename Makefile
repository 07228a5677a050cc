# The two commands a newcomer needs: `make run` shows the program at work, `make test` runs the
# whole suite. Both install what is missing on a Debian machine when run as root.

BUILD_DIR ?= build
WIN_BUILD_DIR ?= build-win
# The Windows suite runs with `make test` where the cross compiler and Wine are installed;
# WINDOWS_SUITE=no leaves it out.
WINDOWS_SUITE ?= yes
JOBS ?= 2
CMAKE_FLAGS ?=
# More options for ctest in `make test`, such as -LE container (leave out the container test).
CTEST_FLAGS ?=
DEB_PACKAGES := cmake g++ make libgtest-dev libpugixml-dev locales tzdata libevt-utils python3 python3-libevt nginx-light curl libxml2-utils \
  g++-mingw-w64-x86-64 wine wine64 googletest zip \
  dpkg-dev adduser systemd \
  libsystemd-dev systemd-journal-remote pkg-config libre2-dev \
  systemd-container debootstrap lintian \
  prometheus prometheus-alertmanager
# What the demo needs: the compiler and the programs' own libraries, no test tools.
RUN_PACKAGES := cmake g++ make libpugixml-dev libsystemd-dev libre2-dev pkg-config
# What the Debian package needs: the demo's packages and dpkg's tools (dpkg-shlibdeps).
PACKAGE_PACKAGES := $(RUN_PACKAGES) dpkg-dev
DEMO_DIR := demo

MINGW_CXX := x86_64-w64-mingw32-g++-posix
# Wine quietly, without offering to install its .NET and browser add-ons.
export WINEDEBUG ?= -all
export WINEDLLOVERRIDES ?= mscoree,mshtml=

.PHONY: all deps run-deps package-deps locales build test run windows windows-test dist deb clean

all: build

# Installs the missing packages of a list: $(call install-missing,PACKAGES).
define install-missing
	@missing=$$(for p in $(1); do dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q '^install ok installed' || echo $$p; done); \
	if [ -n "$$missing" ]; then \
	  if [ "$$(id -u)" = 0 ]; then \
	    echo "Installing:" $$missing; \
	    apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q $$missing; \
	  else \
	    echo "Please run: sudo apt-get install -y" $$missing; exit 1; \
	  fi; \
	fi
endef

deps:
	$(call install-missing,$(DEB_PACKAGES))

run-deps:
	$(call install-missing,$(RUN_PACKAGES))

package-deps:
	$(call install-missing,$(PACKAGE_PACKAGES))

# The German locales serve the regional-settings tests and the journal rules' tests, in UTF-8
# and in Latin-1 (de_DE, ISO-8859-1); the tests skip where a locale is missing.
locales: deps
	@if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$$' || \
	  ! locale -a 2>/dev/null | grep -qx 'de_DE'; then \
	  if [ "$$(id -u)" = 0 ]; then \
	    sed -i 's/^# *\(de_DE.UTF-8 UTF-8\)/\1/; s/^# *\(de_DE ISO-8859-1\)/\1/; s/^# *\(en_US.UTF-8 UTF-8\)/\1/' /etc/locale.gen && \
	    { grep -q '^de_DE ISO-8859-1' /etc/locale.gen || echo 'de_DE ISO-8859-1' >>/etc/locale.gen; } && locale-gen; \
	  else \
	    echo "The de_DE.UTF-8 or de_DE (ISO-8859-1) locale is missing; their tests will be skipped."; \
	  fi; \
	fi

build: deps
	cmake -S . -B $(BUILD_DIR) -DBUILD_TESTING=ON $(CMAKE_FLAGS)
	cmake --build $(BUILD_DIR) -j$(JOBS)

test: locales build
	cd $(BUILD_DIR) && ctest --output-on-failure -j$(JOBS) $(CTEST_FLAGS)
	@if [ "$(WINDOWS_SUITE)" != yes ]; then exit 0; \
	elif command -v $(MINGW_CXX) >/dev/null && command -v wine >/dev/null; then \
	  $(MAKE) --no-print-directory windows-test; \
	else \
	  echo "The cross compiler or Wine is missing: the Windows suite is left out."; \
	fi

# EventLog.exe, cross-built with mingw-w64 and linked statically.
windows: deps
	cmake -S . -B $(WIN_BUILD_DIR) -DBUILD_TESTING=ON -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-w64.cmake
	cmake --build $(WIN_BUILD_DIR) -j$(JOBS)

windows-test: windows
	cd $(WIN_BUILD_DIR) && ctest --output-on-failure

dist: build windows
	tools/dist.sh $(BUILD_DIR) $(WIN_BUILD_DIR)

# Only the Debian package and what it holds (the programs and the man pages, not the test suite):
# dist/eventlog_<version>_amd64.deb. A build directory made by `make test` is reused.
deb: package-deps
	@test -f $(BUILD_DIR)/CMakeCache.txt || cmake -S . -B $(BUILD_DIR) -DBUILD_TESTING=OFF $(CMAKE_FLAGS)
	cmake --build $(BUILD_DIR) -j$(JOBS) --target deb

# The demo builds only the three programs it runs; a build directory made by `make test` is
# reused. The build's output goes to a log file, shown only when the build fails.
run: run-deps
	@mkdir -p $(BUILD_DIR); log=$(BUILD_DIR)/demo-build.log; \
	echo "Building EventLog, eventcreate and pagegateway (output in $$log) ..."; \
	if ! { { test -f $(BUILD_DIR)/CMakeCache.txt || \
	         cmake -S . -B $(BUILD_DIR) -DBUILD_TESTING=OFF $(CMAKE_FLAGS); } && \
	       cmake --build $(BUILD_DIR) -j$(JOBS) --target EventLog eventcreate pagegateway; \
	     } >$$log 2>&1; then \
	  cat $$log; echo "The build failed; its output is above and in $$log."; exit 1; \
	fi
	@tools/demo.sh $(BUILD_DIR) $(DEMO_DIR)

clean:
	rm -rf $(BUILD_DIR) $(WIN_BUILD_DIR) $(DEMO_DIR)

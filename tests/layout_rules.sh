#!/bin/sh
# The layout's include rules, checked over the source tree:
#  - no file outside platform/ includes an operating system header or a backend's header,
#    except the tests' own backends (files named *_posix.* or *_win32.*);
#  - core/ includes nothing of ours but core/;
#  - no backend (platform/posix/, platform/win32/) raises an exception of the program: it gives
#    back a code or a text, and the shared part or the caller raises (platform/errors.h).
# Prints each breach and fails when there is one.
set -u
cd "${1:-.}" || exit 2

os_headers='windows\.h|winevt\.h|winsock2\.h|ws2tcpip\.h|objbase\.h|oleauto\.h|msxml[0-9]*\.h|unistd\.h|sys/[a-z_]+\.h|fcntl\.h|poll\.h|signal\.h|netdb\.h|arpa/[a-z]+\.h|netinet/[a-z]+\.h|dlfcn\.h|pthread\.h|langinfo\.h|locale\.h|iconv\.h|dirent\.h|termios\.h|errno\.h|regex\.h|fnmatch\.h|systemd/[a-z-]+\.h'
include='^[[:space:]]*#[[:space:]]*include[[:space:]]*'
outside="core monitor paging kit tools tests bench fuzz"
tests_own_backends='(_posix|_win32)\.(cpp|h|c):|_win32_test\.cpp:'

breaches=$(
  grep -rnE --include='*.cpp' --include='*.h' --include='*.c' "$include<($os_headers)>" $outside |
    grep -Ev "$tests_own_backends" | sed 's/$/   <- an OS header outside platform\//'
  grep -rnE --include='*.cpp' --include='*.h' --include='*.c' "$include\"platform/(posix|win32)/" \
    $outside | grep -Ev "$tests_own_backends" | sed 's/$/   <- a backend header outside platform\//'
  grep -rnE --include='*.cpp' --include='*.h' "$include\"" core | grep -v '"core/' |
    sed 's/$/   <- core\/ includes only core\//'
  grep -rnE --include='*.cpp' --include='*.h' 'throw[[:space:]]+[A-Za-z_:]|Raise[A-Za-z]*Error[[:space:]]*\(' \
    platform/posix platform/win32 | grep -Ev ':[[:space:]]*//' |
    sed 's/$/   <- a backend raises; it gives back a code (platform\/errors.h)/'
)

if [ -n "$breaches" ]; then
  echo "$breaches"
  exit 1
fi
echo "layout rules hold"

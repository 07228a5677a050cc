#!/bin/sh
# The layout's include rules, checked over the source tree:
#  - no file outside platform/ includes an operating system header or a backend's header,
#    except the tests' own backends (files named *_posix.* or *_win32.*);
#  - core/ includes nothing of ours but core/.
# Prints each breach and fails when there is one.
set -u
root=${1:-.}
cd "$root" || exit 2

os_headers='windows\.h|winsock2\.h|ws2tcpip\.h|objbase\.h|oleauto\.h|msxml[0-9]*\.h|unistd\.h|sys/[a-z_]+\.h|fcntl\.h|poll\.h|signal\.h|netdb\.h|arpa/[a-z]+\.h|netinet/[a-z]+\.h|dlfcn\.h|pthread\.h|langinfo\.h|locale\.h|iconv\.h|dirent\.h|termios\.h|errno\.h|regex\.h|fnmatch\.h|systemd/[a-z-]+\.h'
sources=$(find core monitor paging kit tools tests bench fuzz -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.c' \) 2>/dev/null |
          grep -Ev '(_posix|_win32)\.(cpp|h|c)$|_win32_test\.cpp$')
failed=0

for file in $sources; do
  grep -nE "^[[:space:]]*#[[:space:]]*include[[:space:]]*<($os_headers)>" "$file" |
    while IFS= read -r line; do echo "$file:$line: an OS header outside platform/"; done
  grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"platform/(posix|win32)/' "$file" |
    while IFS= read -r line; do echo "$file:$line: a backend's header outside platform/"; done
done > /tmp/layout_rules.$$

for file in $(find core -type f \( -name '*.cpp' -o -name '*.h' \)); do
  grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file" | grep -v '"core/' |
    while IFS= read -r line; do echo "$file:$line: core/ includes only core/"; done
done >> /tmp/layout_rules.$$

if [ -s /tmp/layout_rules.$$ ]; then
  cat /tmp/layout_rules.$$
  failed=1
fi
rm -f /tmp/layout_rules.$$
[ $failed -eq 0 ] && echo "layout rules hold"
exit $failed

/* Preloaded into a program run by the start-up tests: the system refuses its version query. */
#include <errno.h>
#include <sys/utsname.h>

int uname(struct utsname* name) {
  (void)name;
  errno = EFAULT;
  return -1;
}

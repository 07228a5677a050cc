// The handles of this backend, each closed by its owner.
#pragma once

#include <locale.h>
#include <unistd.h>

#include "core/unique_handle.h"

namespace platform {

struct FdTraits {
  static int Invalid() { return -1; }
  static void Close(int fd) { close(fd); }
};
using UniqueFd = core::UniqueHandle<FdTraits>;

struct LocaleTraits {
  static locale_t Invalid() { return static_cast<locale_t>(0); }
  static void Close(locale_t locale) { freelocale(locale); }
};
using UniqueLocale = core::UniqueHandle<LocaleTraits>;

}  // namespace platform

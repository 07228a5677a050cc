// The Windows headers as every Windows backend file includes them: Winsock 2 before windows.h,
// without the rarely used parts and without the min and max macros.
#pragma once

// clang-format off
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <winsock2.h>
#include <windows.h>
// clang-format on

// The import pointers of three component layer calls, defined by the suite's program itself, so
// the linker leaves ole32's out and the Windows backend's calls land here.
#include <windows.h>

#include <atomic>

#include "tests/support/fake_com.h"

namespace {

std::atomic<ComRefusal> refusal{ComRefusal::None};
std::atomic<int> initializes{0}, creations{0}, uninitializes{0};
std::atomic<long> lastInitializeAnswer{0};

template <typename Function>
Function SystemEntry(const char* name) {
  const FARPROC entry = GetProcAddress(LoadLibraryA("ole32.dll"), name);
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(entry));
}

HRESULT WINAPI FakeCoInitialize(LPVOID reserved) {
  ++initializes;
  const HRESULT answer = refusal == ComRefusal::Initialize
                             ? E_OUTOFMEMORY
                             : SystemEntry<decltype(&CoInitialize)>("CoInitialize")(reserved);
  lastInitializeAnswer = answer;
  return answer;
}

HRESULT WINAPI FakeCoCreateInstance(REFCLSID classId, LPUNKNOWN outer, DWORD context,
                                    REFIID interfaceId, LPVOID* object) {
  ++creations;
  if (refusal == ComRefusal::DocumentClasses) {
    if (object != nullptr) *object = nullptr;
    return REGDB_E_CLASSNOTREG;
  }
  return SystemEntry<decltype(&CoCreateInstance)>("CoCreateInstance")(classId, outer, context,
                                                                      interfaceId, object);
}

void WINAPI FakeCoUninitialize() {
  ++uninitializes;
  SystemEntry<decltype(&CoUninitialize)>("CoUninitialize")();
}

}  // namespace

// The names the Windows headers' dllimport calls go through.
extern "C" {
decltype(&CoInitialize) __imp_CoInitialize = FakeCoInitialize;
decltype(&CoCreateInstance) __imp_CoCreateInstance = FakeCoCreateInstance;
decltype(&CoUninitialize) __imp_CoUninitialize = FakeCoUninitialize;
}

ScopedComRefusal::ScopedComRefusal(ComRefusal how) {
  initializes = creations = uninitializes = 0;
  lastInitializeAnswer = 0;
  refusal = how;
}

ScopedComRefusal::~ScopedComRefusal() { refusal = ComRefusal::None; }

int ScopedComRefusal::Initializes() const { return initializes; }
int ScopedComRefusal::Creations() const { return creations; }
int ScopedComRefusal::Uninitializes() const { return uninitializes; }
long ScopedComRefusal::LastInitializeAnswer() const { return lastInitializeAnswer; }

bool BeginMultithreaded() { return SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)); }

void EndMultithreaded() { CoUninitialize(); }

// Switches for the component layer's entry points in the Windows suite. The suite's program
// takes CoInitialize, CoCreateInstance and CoUninitialize from here instead of from the system:
// they go on to the system's own functions unless a test has them refuse, so the report tests
// reach the system's XML document object as before.
#pragma once

#include <cstdint>

enum class ComRefusal {
  None,
  Initialize,       // CoInitialize answers E_OUTOFMEMORY and starts nothing
  DocumentClasses,  // CoCreateInstance answers REGDB_E_CLASSNOTREG for every class
};

// Refuses as told for the life of the object and counts the calls meanwhile.
class ScopedComRefusal {
 public:
  explicit ScopedComRefusal(ComRefusal refusal);
  ~ScopedComRefusal();
  ScopedComRefusal(const ScopedComRefusal&) = delete;
  ScopedComRefusal& operator=(const ScopedComRefusal&) = delete;

  int Initializes() const;            // CoInitialize calls
  int Creations() const;              // CoCreateInstance calls
  int Uninitializes() const;          // CoUninitialize calls
  long LastInitializeAnswer() const;  // what the last CoInitialize returned
};

// Starts the calling thread's component layer in the multithreaded model, so that a later
// CoInitialize answers RPC_E_CHANGED_MODE; false when the system refused. EndMultithreaded
// gives it back.
bool BeginMultithreaded();
void EndMultithreaded();

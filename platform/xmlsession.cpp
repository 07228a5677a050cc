// The start of the component layer the program calls, apart from the document's routines so
// that a test can put its own in its place: the backend's start, its refusal raised as
// EXMLDocError.
#include "platform/xmldoc.h"

namespace platform {

void BeginXmlSession() {
  std::string error;
  if (!TryBeginXmlSession(error)) throw EXMLDocError(error);
}

}  // namespace platform

// The XML library here needs no component layer: a session starts and ends nothing. The
// routines live apart from the document's, so a test can put its own in their place.
#include "platform/xmldoc.h"

namespace platform {

bool TryBeginXmlSession(std::string&) { return true; }
void EndXmlSession() {}

}  // namespace platform

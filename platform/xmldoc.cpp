// The document routines the program calls: the backend's call, its refusal raised as EXMLDocError
// with the platform's message.
#include "platform/xmldoc.h"

namespace platform {
namespace {

template <typename Result>
Result Checked(Result result, const std::string& error) {
  if (!result) throw EXMLDocError(error);
  return result;
}

}  // namespace

void ClearXmlDocument(XmlDocument* document) {
  std::string error;
  Checked(TryClearXmlDocument(document, error), error);
}

void OpenXmlDocument(XmlDocument* document) {
  std::string error;
  Checked(TryOpenXmlDocument(document, error), error);
}

XmlElement* CreateDocumentElement(XmlDocument* document, const std::string& name) {
  std::string error;
  return Checked(TryCreateDocumentElement(document, name, error), error);
}

XmlElement* AppendElement(XmlDocument* document, XmlElement* parent, const std::string& name) {
  std::string error;
  return Checked(TryAppendElement(document, parent, name, error), error);
}

void SetElementText(XmlDocument* document, XmlElement* element, const std::string& text) {
  std::string error;
  Checked(TrySetElementText(document, element, text, error), error);
}

void SaveXmlDocument(XmlDocument* document, const std::string& fileName) {
  std::string error;
  Checked(TrySaveXmlDocument(document, fileName, error), error);
}

}  // namespace platform

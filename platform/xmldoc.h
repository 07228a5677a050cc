// The platform's XML document object: elements with text, saved to a file. Texts are 8-bit
// text in the system's character set and become the document's Unicode text, without the
// characters XML cannot hold (platform/xmltext.h). A saved document's element texts are read
// back through the same object (SavedElementText).
#pragma once

#include <string>

#include "core/errors.h"
#include "core/unique_handle.h"

// A refusal of the XML document object; the message is the platform's own.
EVENTLOG_DECLARE_EXCEPTION(EXMLDocError)

namespace platform {

struct XmlDocument;
struct XmlElement;

// Starts and ends the component layer for the calling thread. A begin that returns has its end;
// one that raises (the platform refused the layer) opened nothing and has none.
void BeginXmlSession();
void EndXmlSession();

// The document wrapper; the platform's document itself is made by OpenXmlDocument.
XmlDocument* CreateXmlDocument();
void ReleaseXmlDocument(XmlDocument* document);
void ClearXmlDocument(XmlDocument* document);
void OpenXmlDocument(XmlDocument* document);

struct XmlDocumentTraits {
  static XmlDocument* Invalid() { return nullptr; }
  static void Close(XmlDocument* document) { ReleaseXmlDocument(document); }
};
// A document wrapper released, with its elements, when its owner goes.
using UniqueXmlDocument = core::UniqueHandle<XmlDocumentTraits>;

// Elements belong to their document and live as long as it does.
XmlElement* CreateDocumentElement(XmlDocument* document, const std::string& name);
XmlElement* AppendElement(XmlDocument* document, XmlElement* parent, const std::string& name);
void SetElementText(XmlDocument* document, XmlElement* element, const std::string& text);

// Creates or replaces the file.
void SaveXmlDocument(XmlDocument* document, const std::string& fileName);

// The text of the first element of that name in a saved document (its bytes, UTF-8 as saved
// here), its entities and character references decoded, as UTF-8; blanks and line ends are
// kept. Empty when the document holds no such element; a document that breaks off gives what
// stands before the break. Never raises.
std::string SavedElementText(const std::string& document, const std::string& element);

}  // namespace platform

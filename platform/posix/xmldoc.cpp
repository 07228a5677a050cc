#include "platform/xmldoc.h"

#include <cerrno>
#include <cstdio>
#include <deque>
#include <memory>
#include <pugixml.hpp>

#include "core/utf8.h"
#include "core/xmltext.h"
#include "platform/clock.h"
#include "platform/errors.h"
#include "platform/text.h"

namespace platform {

struct XmlElement {
  pugi::xml_node Node;
};

struct XmlDocument {
  std::unique_ptr<pugi::xml_document> Document;  // made when the document is opened
  std::deque<XmlElement> Elements;               // stable addresses for the handed-out elements
};

namespace {

// The opened document, or nullptr with the refusal.
pugi::xml_document* OpenedDocument(XmlDocument* document, std::string& error) {
  if (document == nullptr || !document->Document) {
    error = "XML document is not active";
    return nullptr;
  }
  return document->Document.get();
}

XmlElement* Keep(XmlDocument* document, pugi::xml_node node, const std::string& name,
                 std::string& error) {
  if (!node) {
    error = "Cannot create element " + name;
    return nullptr;
  }
  document->Elements.push_back({node});
  return &document->Elements.back();
}

// The locale's 8-bit text as UTF-8, the document's encoding, without the characters XML cannot
// hold (a NUL among them, so the text is never cut short on its way into the document).
std::string DocumentText(const std::string& text) {
  return core::Utf16ToUtf8(core::XmlCharacters(AnsiToWide(text)));
}

}  // namespace

XmlDocument* CreateXmlDocument() { return new XmlDocument; }

void ReleaseXmlDocument(XmlDocument* document) { delete document; }

bool TryClearXmlDocument(XmlDocument* document, std::string&) {
  document->Elements.clear();
  if (document->Document) document->Document->reset();
  return true;
}

bool TryOpenXmlDocument(XmlDocument* document, std::string&) {
  if (!document->Document) document->Document = std::make_unique<pugi::xml_document>();
  return true;
}

XmlElement* TryCreateDocumentElement(XmlDocument* document, const std::string& name,
                                     std::string& error) {
  pugi::xml_document* xml = OpenedDocument(document, error);
  if (xml == nullptr) return nullptr;
  if (xml->document_element()) xml->remove_child(xml->document_element());
  return Keep(document, xml->append_child(DocumentText(name).c_str()), name, error);
}

XmlElement* TryAppendElement(XmlDocument* document, XmlElement* parent, const std::string& name,
                             std::string& error) {
  if (OpenedDocument(document, error) == nullptr) return nullptr;
  return Keep(document, parent->Node.append_child(DocumentText(name).c_str()), name, error);
}

bool TrySetElementText(XmlDocument* document, XmlElement* element, const std::string& text,
                       std::string& error) {
  if (OpenedDocument(document, error) == nullptr) return false;
  if (element->Node.text().set(DocumentText(text).c_str())) return true;
  error = "Cannot set the element's text";
  return false;
}

bool TrySaveXmlDocument(XmlDocument* document, const std::string& fileName, std::string& error) {
  pugi::xml_document* xml = OpenedDocument(document, error);
  if (xml == nullptr) return false;
  // The texts hold only characters XML allows (DocumentText); there is no declaration and no
  // indentation.
  struct StringWriter : pugi::xml_writer {
    std::string Bytes;
    void write(const void* data, size_t size) override {
      Bytes.append(static_cast<const char*>(data), size);
    }
  } writer;
  xml->save(writer, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
  std::FILE* file = std::fopen(fileName.c_str(), "wb");
  if (file == nullptr) {
    error = SystemErrorText(errno);
    return false;
  }
  const bool written =
      std::fwrite(writer.Bytes.data(), 1, writer.Bytes.size(), file) == writer.Bytes.size();
  const int writeError = errno;
  if (std::fclose(file) != 0 || !written) {
    error = SystemErrorText(written ? errno : writeError);
    std::remove(fileName.c_str());
    return false;
  }
  return true;
}

std::string SavedElementText(const std::string& document, const std::string& element) {
  pugi::xml_document xml;
  // A document that breaks off keeps the part before the break.
  xml.load_buffer(document.data(), document.size(), pugi::parse_default | pugi::parse_ws_pcdata,
                  pugi::encoding_utf8);
  const pugi::xml_node found = xml.find_node([&](const pugi::xml_node& node) {
    return node.type() == pugi::node_element && element == node.name();
  });
  return found.text().get();
}

}  // namespace platform

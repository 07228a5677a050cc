#include "platform/xmldoc.h"

#include <cerrno>
#include <cstdio>
#include <deque>
#include <memory>
#include <pugixml.hpp>

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

pugi::xml_document& OpenedDocument(XmlDocument* document) {
  if (document == nullptr || !document->Document) throw EXMLDocError("XML document is not active");
  return *document->Document;
}

XmlElement* Keep(XmlDocument* document, pugi::xml_node node, const std::string& name) {
  if (!node) throw EXMLDocError("Cannot create element " + name);
  document->Elements.push_back({node});
  return &document->Elements.back();
}

// The locale's 8-bit text as UTF-8, the document's encoding, without the characters XML cannot
// hold (a NUL among them, so the text is never cut short on its way into the document).
std::string DocumentText(const std::string& text) {
  const std::u16string wide = core::XmlCharacters(AnsiToWide(text));
  std::string utf8;
  for (std::size_t i = 0; i < wide.size(); ++i) {
    char32_t c = wide[i];
    // The filter keeps surrogates only in pairs, so a high one is always followed by a low one.
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < wide.size())
      c = 0x10000 + ((c - 0xD800) << 10) + (wide[++i] - 0xDC00);
    if (c < 0x80) {
      utf8.push_back(char(c));
    } else if (c < 0x800) {
      utf8.push_back(char(0xC0 | c >> 6));
      utf8.push_back(char(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      utf8.push_back(char(0xE0 | c >> 12));
      utf8.push_back(char(0x80 | (c >> 6 & 0x3F)));
      utf8.push_back(char(0x80 | (c & 0x3F)));
    } else {
      utf8.push_back(char(0xF0 | c >> 18));
      utf8.push_back(char(0x80 | (c >> 12 & 0x3F)));
      utf8.push_back(char(0x80 | (c >> 6 & 0x3F)));
      utf8.push_back(char(0x80 | (c & 0x3F)));
    }
  }
  return utf8;
}

}  // namespace

XmlDocument* CreateXmlDocument() { return new XmlDocument; }

void ReleaseXmlDocument(XmlDocument* document) { delete document; }

void ClearXmlDocument(XmlDocument* document) {
  document->Elements.clear();
  if (document->Document) document->Document->reset();
}

void OpenXmlDocument(XmlDocument* document) {
  if (!document->Document) document->Document = std::make_unique<pugi::xml_document>();
}

XmlElement* CreateDocumentElement(XmlDocument* document, const std::string& name) {
  pugi::xml_document& xml = OpenedDocument(document);
  if (xml.document_element()) xml.remove_child(xml.document_element());
  return Keep(document, xml.append_child(DocumentText(name).c_str()), name);
}

XmlElement* AppendElement(XmlDocument* document, XmlElement* parent, const std::string& name) {
  OpenedDocument(document);
  return Keep(document, parent->Node.append_child(DocumentText(name).c_str()), name);
}

void SetElementText(XmlDocument* document, XmlElement* element, const std::string& text) {
  OpenedDocument(document);
  if (!element->Node.text().set(DocumentText(text).c_str()))
    throw EXMLDocError("Cannot set the element's text");
}

void SaveXmlDocument(XmlDocument* document, const std::string& fileName) {
  pugi::xml_document& xml = OpenedDocument(document);
  // The texts hold only characters XML allows (DocumentText); there is no declaration and no
  // indentation.
  struct StringWriter : pugi::xml_writer {
    std::string Bytes;
    void write(const void* data, size_t size) override {
      Bytes.append(static_cast<const char*>(data), size);
    }
  } writer;
  xml.save(writer, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
  std::FILE* file = std::fopen(fileName.c_str(), "wb");
  if (file == nullptr) throw EXMLDocError(SystemErrorText(errno));
  const bool written =
      std::fwrite(writer.Bytes.data(), 1, writer.Bytes.size(), file) == writer.Bytes.size();
  const int writeError = errno;
  if (std::fclose(file) != 0 || !written) {
    std::remove(fileName.c_str());
    throw EXMLDocError(SystemErrorText(written ? errno : writeError));
  }
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

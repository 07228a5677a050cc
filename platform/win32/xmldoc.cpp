#include "platform/xmldoc.h"

#include "core/unique_handle.h"
#include "core/xmltext.h"
#include "platform/win32/windows_api.h"

// clang-format off
#include <objbase.h>
#include <oleauto.h>
#include <msxml2.h>
// clang-format on

#include <climits>
#include <cstdio>
#include <deque>
#include <vector>

namespace platform {

struct XmlElement {
  IXMLDOMElement* Element;
};

struct XmlDocument {
  IXMLDOMDocument* Document = nullptr;  // made when the document is opened
  std::deque<XmlElement> Elements;      // stable addresses for the handed-out elements
};

namespace {

// The document classes, the first that can be made wins: 4.0, 3.0, 2.6, then the version
// independent one.
constexpr CLSID kDocumentClasses[] = {
    {0x88D969C0, 0xF192, 0x11D4, {0xA6, 0x5F, 0x00, 0x40, 0x96, 0x32, 0x51, 0xE5}},
    {0xF5078F32, 0xC551, 0x11D3, {0x89, 0xB9, 0x00, 0x00, 0xF8, 0x1F, 0xE2, 0x21}},
    {0xF5078F1B, 0xC551, 0x11D3, {0x89, 0xB9, 0x00, 0x00, 0xF8, 0x1F, 0xE2, 0x21}},
    {0x2933BF90, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}},
};
constexpr IID kDocumentInterface = {
    0x2933BF81, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};

// Whether each open session of the calling thread started the component layer and so owes it
// its release; sessions nest.
std::vector<bool>& ThreadSessions() {
  thread_local std::vector<bool> sessions;
  return sessions;
}

// A text in the code page as Unicode.
std::u16string Unicode(const std::string& text, UINT codePage) {
  const int length = text.size() > INT_MAX ? INT_MAX : static_cast<int>(text.size());
  const int size =
      length == 0 ? 0 : MultiByteToWideChar(codePage, 0, text.data(), length, nullptr, 0);
  if (size <= 0) return {};
  std::u16string wide(static_cast<std::size_t>(size), u'\0');
  const int written = MultiByteToWideChar(codePage, 0, text.data(), length,
                                          reinterpret_cast<wchar_t*>(wide.data()), size);
  wide.resize(static_cast<std::size_t>(written > 0 ? written : 0));
  return wide;
}

// The system's 8-bit text (CP_ACP) as Unicode.
std::u16string Widen(const std::string& text) { return Unicode(text, CP_ACP); }

// A Unicode text in the code page.
std::string Encoded(const wchar_t* text, int length, UINT codePage) {
  if (text == nullptr || length <= 0) return {};
  const int size = WideCharToMultiByte(codePage, 0, text, length, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return {};
  std::string result(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(codePage, 0, text, length, result.data(), size, nullptr, nullptr);
  return result;
}

// The system's 8-bit text (CP_ACP) for a Unicode text.
std::string Narrow(const wchar_t* text, int length) { return Encoded(text, length, CP_ACP); }

// A text for the document: without the characters XML cannot hold, which the document object
// would write as they are (or cut the text at a NUL).
std::u16string DocumentText(const std::string& text) { return core::XmlCharacters(Widen(text)); }

// A Unicode string of the component layer.
struct ComTextTraits {
  static BSTR Invalid() { return nullptr; }
  static void Close(BSTR text) { SysFreeString(text); }
};
using ComText = core::UniqueHandle<ComTextTraits>;

// A string of the component layer; an invalid one with the refusal in error.
ComText NewComText(const std::u16string& text, std::string& error) {
  const UINT size = text.size() > UINT_MAX ? UINT_MAX : static_cast<UINT>(text.size());
  ComText made(SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()), size));
  if (!made) error = "Not enough memory for the document's text";
  return made;
}

// A reference to an object of the component layer, given back when its owner goes.
template <class Interface>
struct ComReferenceTraits {
  static Interface* Invalid() { return nullptr; }
  static void Close(Interface* object) { object->Release(); }
};
template <class Interface>
using ComReference = core::UniqueHandle<ComReferenceTraits<Interface>>;

void Release(IUnknown* object) {
  if (object != nullptr) object->Release();
}

// The platform's message for a refusal: the description the object left for this thread, else
// the system's text for the result code.
std::string RefusalText(HRESULT result) {
  std::string text;
  IErrorInfo* left = nullptr;
  const bool described = GetErrorInfo(0, &left) == S_OK;
  const ComReference<IErrorInfo> info(left);
  if (described && info) {
    BSTR given = nullptr;
    const bool found = SUCCEEDED(info.get()->GetDescription(&given));
    const ComText description(given);
    if (found && description)
      text = Narrow(description.get(), static_cast<int>(SysStringLen(description.get())));
  }
  if (text.empty()) {
    char* buffer = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(result), 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
    if (length > 0 && buffer != nullptr) text.assign(buffer, length);
    if (buffer != nullptr) LocalFree(buffer);
  }
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' '))
    text.pop_back();
  if (text.empty()) {
    char code[32];
    std::snprintf(code, sizeof code, "Error 0x%08lX", static_cast<unsigned long>(result));
    text = code;
  }
  return text;
}

// Whether a call of the document object worked; when it failed, error holds the refusal.
bool Succeeded(HRESULT result, std::string& error) {
  if (SUCCEEDED(result)) return true;
  error = RefusalText(result);
  return false;
}

// Drops any description an earlier call left, so a refusal never reads someone else's.
void ForgetDescription() { SetErrorInfo(0, nullptr); }

// The opened document, or nullptr with the refusal.
IXMLDOMDocument* OpenedDocument(XmlDocument* document, std::string& error) {
  if (document == nullptr || document->Document == nullptr) {
    error = "XML document is not active";
    return nullptr;
  }
  return document->Document;
}

// A new element, or an invalid one with the refusal.
ComReference<IXMLDOMElement> NewElement(IXMLDOMDocument* document, const std::string& name,
                                        std::string& error) {
  const ComText text = NewComText(DocumentText(name), error);
  if (!text) return ComReference<IXMLDOMElement>(nullptr);
  IXMLDOMElement* made = nullptr;
  ForgetDescription();
  const HRESULT result = document->createElement(text.get(), &made);
  ComReference<IXMLDOMElement> element(made);
  if (!Succeeded(result, error)) return ComReference<IXMLDOMElement>(nullptr);
  if (!element) error = "Cannot create element " + name;
  return element;
}

// The document holds the element's reference from now on.
XmlElement* Keep(XmlDocument* document, ComReference<IXMLDOMElement> element) {
  document->Elements.push_back({element.get()});
  (void)element.release();
  return &document->Elements.back();
}

void ReleaseElements(XmlDocument* document) {
  for (XmlElement& element : document->Elements) Release(element.Element);
  document->Elements.clear();
}

}  // namespace

bool TryBeginXmlSession(std::string& error) {
  const HRESULT result = CoInitialize(nullptr);
  // A refusal started nothing: it owes no release, and the session is not open.
  if (FAILED(result) && result != RPC_E_CHANGED_MODE) {
    error = RefusalText(result);
    return false;
  }
  // S_FALSE (already started on this thread) owes its release as much as S_OK does. A thread
  // whose layer runs in the other threading model keeps it and can still make the document.
  try {
    ThreadSessions().push_back(SUCCEEDED(result));
  } catch (...) {
    if (SUCCEEDED(result)) CoUninitialize();
    throw;
  }
  return true;
}

void EndXmlSession() {
  std::vector<bool>& sessions = ThreadSessions();
  if (sessions.empty()) return;
  const bool started = sessions.back();
  sessions.pop_back();
  if (started) CoUninitialize();
}

XmlDocument* CreateXmlDocument() { return new XmlDocument; }

void ReleaseXmlDocument(XmlDocument* document) {
  if (document == nullptr) return;
  ReleaseElements(document);
  Release(document->Document);
  delete document;
}

bool TryClearXmlDocument(XmlDocument* document, std::string& error) {
  ReleaseElements(document);
  if (document->Document == nullptr) return true;
  for (;;) {
    IXMLDOMNode* first = nullptr;
    ForgetDescription();
    const HRESULT found = document->Document->get_firstChild(&first);
    const ComReference<IXMLDOMNode> child(first);
    if (!Succeeded(found, error)) return false;
    if (found != S_OK || !child) return true;
    IXMLDOMNode* removed = nullptr;
    ForgetDescription();
    const HRESULT result = document->Document->removeChild(child.get(), &removed);
    Release(removed);
    if (!Succeeded(result, error)) return false;
  }
}

bool TryOpenXmlDocument(XmlDocument* document, std::string& error) {
  if (document->Document != nullptr) return true;
  HRESULT result = REGDB_E_CLASSNOTREG;
  for (const CLSID& documentClass : kDocumentClasses) {
    IUnknown* made = nullptr;
    result = CoCreateInstance(documentClass, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                              IID_IUnknown, reinterpret_cast<void**>(&made));
    if (FAILED(result)) continue;
    const ComReference<IUnknown> object(made);
    IXMLDOMDocument* xml = nullptr;
    ForgetDescription();
    result = object.get()->QueryInterface(kDocumentInterface, reinterpret_cast<void**>(&xml));
    if (!Succeeded(result, error)) return false;
    document->Document = xml;
    return true;
  }
  error = RefusalText(result);
  return false;
}

XmlElement* TryCreateDocumentElement(XmlDocument* document, const std::string& name,
                                     std::string& error) {
  IXMLDOMDocument* xml = OpenedDocument(document, error);
  if (xml == nullptr) return nullptr;
  ComReference<IXMLDOMElement> element = NewElement(xml, name, error);
  if (!element) return nullptr;
  ForgetDescription();
  if (!Succeeded(xml->putref_documentElement(element.get()), error)) return nullptr;
  return Keep(document, std::move(element));
}

XmlElement* TryAppendElement(XmlDocument* document, XmlElement* parent, const std::string& name,
                             std::string& error) {
  IXMLDOMDocument* xml = OpenedDocument(document, error);
  if (xml == nullptr) return nullptr;
  ComReference<IXMLDOMElement> element = NewElement(xml, name, error);
  if (!element) return nullptr;
  IXMLDOMNode* appended = nullptr;
  ForgetDescription();
  const HRESULT result = parent->Element->appendChild(element.get(), &appended);
  Release(appended);
  if (!Succeeded(result, error)) return nullptr;
  return Keep(document, std::move(element));
}

bool TrySetElementText(XmlDocument* document, XmlElement* element, const std::string& text,
                       std::string& error) {
  if (OpenedDocument(document, error) == nullptr) return false;
  const ComText value = NewComText(DocumentText(text), error);
  if (!value) return false;
  ForgetDescription();
  return Succeeded(element->Element->put_text(value.get()), error);
}

bool TrySaveXmlDocument(XmlDocument* document, const std::string& fileName, std::string& error) {
  IXMLDOMDocument* xml = OpenedDocument(document, error);
  if (xml == nullptr) return false;
  const ComText name = NewComText(Widen(fileName), error);
  if (!name) return false;
  VARIANT destination;
  VariantInit(&destination);
  destination.vt = VT_BSTR;
  destination.bstrVal = name.get();  // still owned by name
  ForgetDescription();
  return Succeeded(xml->save(destination), error);
}

std::string SavedElementText(const std::string& document, const std::string& element) {
  std::string error;
  if (!TryBeginXmlSession(error)) return {};
  std::string text;
  {
    const UniqueXmlDocument reader(CreateXmlDocument());
    if (TryOpenXmlDocument(reader.get(), error)) {
      IXMLDOMDocument* xml = reader.get()->Document;
      xml->put_async(VARIANT_FALSE);
      xml->put_preserveWhiteSpace(VARIANT_TRUE);
      const ComText source = NewComText(Unicode(document, CP_UTF8), error);
      const ComText path = NewComText(u"//" + Unicode(element, CP_UTF8), error);
      VARIANT_BOOL loaded = VARIANT_FALSE;
      if (source && path) xml->loadXML(source.get(), &loaded);
      IXMLDOMNode* node = nullptr;
      if (loaded == VARIANT_TRUE && xml->selectSingleNode(path.get(), &node) == S_OK) {
        const ComReference<IXMLDOMNode> found(node);
        BSTR value = nullptr;
        const bool read = SUCCEEDED(found.get()->get_text(&value));
        const ComText owned(value);
        if (read && owned)
          text = Encoded(owned.get(), static_cast<int>(SysStringLen(owned.get())), CP_UTF8);
      }
    }
  }
  EndXmlSession();
  return text;
}

}  // namespace platform

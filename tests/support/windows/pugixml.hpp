// The part of pugixml's reading interface that the report tests use, for the Windows suite:
// Debian builds pugixml for Linux only. A strict reader of one document: elements, attributes,
// texts, CDATA sections, character and the five entity references; the declaration, comments,
// processing instructions and a document type are read and dropped, as pugixml's default does.
// A text of blanks only is kept with parse_ws_pcdata; line ends are kept unless parse_eol.
#pragma once

#include <cstddef>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace pugi {

enum xml_node_type { node_null, node_document, node_element, node_pcdata, node_cdata };

constexpr unsigned parse_ws_pcdata = 0x0008;
constexpr unsigned parse_eol = 0x0020;
constexpr unsigned parse_default = 0x0001 | 0x0002 | 0x0010 | parse_eol | 0x0040;

namespace detail {

struct node_data {
  xml_node_type type = node_null;
  std::string name, value;
  std::vector<std::pair<std::string, std::string>> attributes;
  std::vector<std::unique_ptr<node_data>> children;
  node_data* parent = nullptr;
};

}  // namespace detail

class xml_attribute {
 public:
  xml_attribute() = default;
  xml_attribute(const detail::node_data* node, std::size_t index) : node_(node), index_(index) {}
  explicit operator bool() const { return node_ != nullptr; }
  const char* name() const { return node_ ? node_->attributes[index_].first.c_str() : ""; }
  const char* value() const { return node_ ? node_->attributes[index_].second.c_str() : ""; }
  bool operator==(const xml_attribute& other) const {
    return node_ == other.node_ && index_ == other.index_;
  }

 private:
  const detail::node_data* node_ = nullptr;
  std::size_t index_ = 0;
};

class xml_node;

class xml_node_iterator {
 public:
  xml_node_iterator(const detail::node_data* parent, std::size_t index)
      : parent_(parent), index_(index) {}
  xml_node operator*() const;
  xml_node_iterator& operator++() {
    ++index_;
    return *this;
  }
  bool operator!=(const xml_node_iterator& other) const { return index_ != other.index_; }

 private:
  const detail::node_data* parent_;
  std::size_t index_;
};

struct xml_object_range {
  xml_node_iterator first, last;
  xml_node_iterator begin() const { return first; }
  xml_node_iterator end() const { return last; }
};

class xml_node {
 public:
  xml_node() = default;
  explicit xml_node(const detail::node_data* node) : node_(node) {}
  explicit operator bool() const { return node_ != nullptr; }
  bool operator!() const { return node_ == nullptr; }
  bool operator==(const xml_node& other) const { return node_ == other.node_; }
  xml_node_type type() const { return node_ ? node_->type : node_null; }
  const char* name() const {
    return node_ && node_->type == node_element ? node_->name.c_str() : "";
  }
  const char* value() const {
    return node_ && (node_->type == node_pcdata || node_->type == node_cdata) ? node_->value.c_str()
                                                                              : "";
  }
  xml_node first_child() const {
    return node_ && !node_->children.empty() ? xml_node(node_->children.front().get()) : xml_node();
  }
  xml_node next_sibling() const {
    if (!node_ || !node_->parent) return xml_node();
    const auto& siblings = node_->parent->children;
    for (std::size_t i = 0; i + 1 < siblings.size(); ++i)
      if (siblings[i].get() == node_) return xml_node(siblings[i + 1].get());
    return xml_node();
  }
  xml_node child(const char* name) const {
    if (node_)
      for (const auto& c : node_->children)
        if (c->type == node_element && c->name == name) return xml_node(c.get());
    return xml_node();
  }
  const char* child_value() const {
    if (node_)
      for (const auto& c : node_->children)
        if (c->type == node_pcdata || c->type == node_cdata) return c->value.c_str();
    return "";
  }
  const char* child_value(const char* name) const { return child(name).child_value(); }
  xml_attribute first_attribute() const {
    return node_ && !node_->attributes.empty() ? xml_attribute(node_, 0) : xml_attribute();
  }
  xml_object_range children() const {
    const std::size_t count = node_ ? node_->children.size() : 0;
    return {xml_node_iterator(node_, 0), xml_node_iterator(node_, count)};
  }

 protected:
  const detail::node_data* node_ = nullptr;
};

inline xml_node xml_node_iterator::operator*() const {
  return xml_node(parent_->children[index_].get());
}

struct xml_parse_result {
  bool ok = false;
  std::string problem = "No document element found";
  std::ptrdiff_t offset = 0;
  explicit operator bool() const { return ok; }
  const char* description() const { return problem.c_str(); }
};

namespace detail {

class reader {
 public:
  reader(const char* data, std::size_t size, unsigned options)
      : text_(data, size), options_(options) {}

  xml_parse_result read(node_data& document) {
    xml_parse_result result;
    try {
      skip_misc();
      if (!starts("<")) fail("No document element found");
      read_element(document);
      skip_misc();
      if (at_ < text_.size()) fail("Content after the document element");
      result.ok = true;
      result.problem = "No error";
    } catch (const xml_parse_result& failure) {
      result = failure;
    }
    return result;
  }

 private:
  [[noreturn]] void fail(const char* what) {
    xml_parse_result failure;
    failure.problem = what;
    failure.offset = static_cast<std::ptrdiff_t>(at_);
    throw failure;
  }
  bool starts(const char* prefix) const {
    return text_.compare(at_, std::char_traits<char>::length(prefix), prefix) == 0;
  }
  void skip_blanks() {
    while (at_ < text_.size() &&
           (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\r' || text_[at_] == '\n'))
      ++at_;
  }
  void skip_past(const char* end, const char* problem) {
    const std::size_t found = text_.find(end, at_);
    if (found == std::string::npos) fail(problem);
    at_ = found + std::char_traits<char>::length(end);
  }
  // Blanks, the declaration, comments, processing instructions and a document type.
  void skip_misc() {
    for (;;) {
      skip_blanks();
      if (starts("<?"))
        skip_past("?>", "Unclosed processing instruction");
      else if (starts("<!--"))
        skip_past("-->", "Unclosed comment");
      else if (starts("<!DOCTYPE"))
        skip_past(">", "Unclosed document type");
      else
        return;
    }
  }
  static bool name_char(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == ':' || c == '.' || c == '-' || static_cast<unsigned char>(c) >= 0x80;
  }
  std::string read_name() {
    const std::size_t start = at_;
    while (at_ < text_.size() && name_char(text_[at_])) ++at_;
    if (at_ == start || (text_[start] >= '0' && text_[start] <= '9') || text_[start] == '-' ||
        text_[start] == '.')
      fail("Bad name");
    return text_.substr(start, at_ - start);
  }
  static void append_utf8(std::string& out, unsigned long code) {
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (code >> 18));
      out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }
  static bool xml_char(unsigned long code) {
    return code == 0x9 || code == 0xA || code == 0xD || (code >= 0x20 && code <= 0xD7FF) ||
           (code >= 0xE000 && code <= 0xFFFD) || (code >= 0x10000 && code <= 0x10FFFF);
  }
  // The reference after '&', up to its ';'.
  void read_reference(std::string& out) {
    const std::size_t end = text_.find(';', at_);
    if (end == std::string::npos || end - at_ > 10) fail("Bad reference");
    const std::string reference = text_.substr(at_, end - at_);
    at_ = end + 1;
    if (reference == "lt") return out.push_back('<');
    if (reference == "gt") return out.push_back('>');
    if (reference == "amp") return out.push_back('&');
    if (reference == "quot") return out.push_back('"');
    if (reference == "apos") return out.push_back('\'');
    const bool hex = reference.size() > 2 && reference[0] == '#' && reference[1] == 'x';
    const std::size_t digits = hex ? 2 : 1;
    if (reference.size() <= digits || reference[0] != '#') fail("Unknown entity");
    unsigned long code = 0;
    for (std::size_t i = digits; i < reference.size(); ++i) {
      const char c = reference[i];
      int digit = c >= '0' && c <= '9'          ? c - '0'
                  : hex && c >= 'a' && c <= 'f' ? c - 'a' + 10
                  : hex && c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                : -1;
      if (digit < 0 || code > 0x10FFFF) fail("Bad character reference");
      code = code * (hex ? 16 : 10) + static_cast<unsigned long>(digit);
    }
    if (!xml_char(code)) fail("Character reference to a character XML does not allow");
    append_utf8(out, code);
  }
  // Raw text up to the stop character, with references replaced and, with parse_eol, CR LF and
  // lone CR made LF. Control characters XML does not allow are refused.
  std::string read_text(char stop) {
    std::string out;
    while (at_ < text_.size() && text_[at_] != stop) {
      const char c = text_[at_];
      if (c == '<') fail("'<' inside an attribute value");
      if (c == '&') {
        ++at_;
        read_reference(out);
        continue;
      }
      const auto byte = static_cast<unsigned char>(c);
      if (byte < 0x20 && c != '\t' && c != '\n' && c != '\r') fail("Character XML does not allow");
      if (c == '\r' && (options_ & parse_eol)) {
        out += '\n';
        ++at_;
        if (at_ < text_.size() && text_[at_] == '\n') ++at_;
        continue;
      }
      out += c;
      ++at_;
    }
    if (at_ >= text_.size()) fail(stop == '<' ? "Unclosed element" : "Unclosed attribute value");
    return out;
  }
  void add_text(node_data& parent, std::string text, xml_node_type type) {
    if (type == node_pcdata && !(options_ & parse_ws_pcdata) &&
        text.find_first_not_of(" \t\r\n") == std::string::npos)
      return;
    auto node = std::make_unique<node_data>();
    node->type = type;
    node->value = std::move(text);
    node->parent = &parent;
    parent.children.push_back(std::move(node));
  }
  void read_element(node_data& parent) {
    ++at_;  // '<'
    auto element = std::make_unique<node_data>();
    element->type = node_element;
    element->parent = &parent;
    element->name = read_name();
    for (;;) {
      const std::size_t before = at_;
      skip_blanks();
      if (starts("/>")) {
        at_ += 2;
        parent.children.push_back(std::move(element));
        return;
      }
      if (starts(">")) {
        ++at_;
        break;
      }
      if (at_ == before) fail("Bad start tag");
      std::string name = read_name();
      skip_blanks();
      if (!starts("=")) fail("Attribute without value");
      ++at_;
      skip_blanks();
      if (!starts("\"") && !starts("'")) fail("Attribute value without quotes");
      const char quote = text_[at_++];
      std::string value = read_text(quote);
      ++at_;
      for (const auto& attribute : element->attributes)
        if (attribute.first == name) fail("Duplicate attribute");
      element->attributes.emplace_back(std::move(name), std::move(value));
    }
    read_content(*element);
    parent.children.push_back(std::move(element));
  }
  void read_content(node_data& element) {
    for (;;) {
      if (at_ >= text_.size()) fail("Unclosed element");
      if (starts("</")) {
        at_ += 2;
        if (read_name() != element.name) fail("Start-end tags mismatch");
        skip_blanks();
        if (!starts(">")) fail("Bad end tag");
        ++at_;
        return;
      }
      if (starts("<!--")) {
        skip_past("-->", "Unclosed comment");
      } else if (starts("<![CDATA[")) {
        at_ += 9;
        const std::size_t end = text_.find("]]>", at_);
        if (end == std::string::npos) fail("Unclosed CDATA section");
        add_text(element, text_.substr(at_, end - at_), node_cdata);
        at_ = end + 3;
      } else if (starts("<?")) {
        skip_past("?>", "Unclosed processing instruction");
      } else if (starts("<")) {
        read_element(element);
      } else {
        const std::size_t start = at_;
        std::string text = read_text('<');
        if (text_.find("]]>", start) < at_) fail("']]>' inside a text");
        add_text(element, std::move(text), node_pcdata);
      }
    }
  }

  std::string text_;
  unsigned options_;
  std::size_t at_ = 0;
};

}  // namespace detail

class xml_document : public xml_node {
 public:
  xml_document() : root_(std::make_unique<detail::node_data>()) {
    root_->type = node_document;
    node_ = root_.get();
  }
  xml_parse_result load_buffer(const void* data, std::size_t size,
                               unsigned options = parse_default) {
    root_->children.clear();
    const xml_parse_result result =
        detail::reader(static_cast<const char*>(data), size, options).read(*root_);
    if (!result) root_->children.clear();
    return result;
  }
  xml_parse_result load_file(const std::filesystem::path& path, unsigned options = parse_default) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
      root_->children.clear();
      xml_parse_result failure;
      failure.problem = "File was not found";
      return failure;
    }
    const std::string raw((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    return load_buffer(raw.data(), raw.size(), options);
  }

 private:
  std::unique_ptr<detail::node_data> root_;
};

}  // namespace pugi

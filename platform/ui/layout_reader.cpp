// The stored-layout reader: parses the text into a tree of objects first (so a
// syntax error creates nothing), then builds the form from it.

#include "platform/ui/controls.h"

#include <cxxabi.h>

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <memory>
#include <optional>
#include <typeinfo>

#include "platform/ui/names.h"

namespace {

using ui_names::SameName;

std::string AtLine(int line) { return "line " + std::to_string(line) + ": "; }

[[noreturn]] void Fail(int line, const std::string& what) { throw ELayoutError(AtLine(line) + what); }

bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

void AppendUtf8(std::string& out, std::uint32_t code) {
  if (code < 0x80) {
    out += char(code);
  } else if (code < 0x800) {
    out += char(0xC0 | (code >> 6));
    out += char(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += char(0xE0 | (code >> 12));
    out += char(0x80 | ((code >> 6) & 0x3F));
    out += char(0x80 | (code & 0x3F));
  } else {
    out += char(0xF0 | (code >> 18));
    out += char(0x80 | ((code >> 12) & 0x3F));
    out += char(0x80 | ((code >> 6) & 0x3F));
    out += char(0x80 | (code & 0x3F));
  }
}

// ---- Tokens ----------------------------------------------------------------------

struct Token {
  enum class Kind { End, Identifier, Integer, String, Binary, Symbol };
  Kind kind = Kind::End;
  int line = 1;
  std::string text;  // identifier, string contents, or the symbol
  std::int64_t integer = 0;
  std::vector<std::uint8_t> bytes;

  bool Is(char symbol) const { return kind == Kind::Symbol && text.size() == 1 && text[0] == symbol; }
  bool IsWord(std::string_view word) const { return kind == Kind::Identifier && SameName(text, word); }
  std::string Describe() const {
    switch (kind) {
      case Kind::End: return "the end of the layout";
      case Kind::Identifier: return "'" + text + "'";
      case Kind::Integer: return "a number";
      case Kind::String: return "a string";
      case Kind::Binary: return "binary data";
      case Kind::Symbol: return "'" + text + "'";
    }
    return "something else";
  }
};

class Lexer {
 public:
  explicit Lexer(std::string_view text) : text_(text) {}

  const Token& Peek() {
    if (!peeked_) peeked_ = Read();
    return *peeked_;
  }
  Token Next() {
    Token token = peeked_ ? std::move(*peeked_) : Read();
    peeked_.reset();
    return token;
  }
  int Line() const { return line_; }

 private:
  char At(std::size_t offset = 0) const { return pos_ + offset < text_.size() ? text_[pos_ + offset] : '\0'; }
  bool AtEnd() const { return pos_ >= text_.size(); }

  void SkipSpace() {
    while (!AtEnd()) {
      const char c = At();
      if (c == '\n') ++line_;
      if (c != ' ' && c != '\t' && c != '\r' && c != '\n') return;
      ++pos_;
    }
  }

  Token Read() {
    Token token = ReadToken();
    if (token.kind != Token::Kind::End) last_token_line_ = line_;
    return token;
  }

  Token ReadToken() {
    SkipSpace();
    Token token;
    token.line = line_;
    if (AtEnd()) {
      // The end of the text counts as the last line that held something.
      token.line = last_token_line_;
      return token;
    }
    const char c = At();
    if (IsLetter(c)) return ReadIdentifier(token);
    if (IsDigit(c) || c == '$' || ((c == '-' || c == '+') && (IsDigit(At(1)) || At(1) == '$')))
      return ReadInteger(token);
    if (c == '\'' || c == '#') return ReadString(token);
    if (c == '{') return ReadBinary(token);
    if (std::string_view("=:()[],+").find(c) != std::string_view::npos) {
      ++pos_;
      token.kind = Token::Kind::Symbol;
      token.text = std::string(1, c);
      return token;
    }
    Fail(line_, std::string("unexpected character '") + c + "'");
  }

  // Names may be dotted: Font.Color, Lines.Strings.
  Token ReadIdentifier(Token& token) {
    const std::size_t start = pos_;
    while (IsLetter(At()) || IsDigit(At()) || At() == '.') ++pos_;
    token.kind = Token::Kind::Identifier;
    token.text = std::string(text_.substr(start, pos_ - start));
    if (token.text.back() == '.' || token.text.find("..") != std::string::npos)
      Fail(token.line, "malformed name '" + token.text + "'");
    return token;
  }

  Token ReadInteger(Token& token) {
    const std::size_t start = pos_;
    bool negative = false;
    if (At() == '-' || At() == '+') negative = text_[pos_++] == '-';
    const bool hex = At() == '$';
    if (hex) ++pos_;
    const int base = hex ? 16 : 10;
    std::uint64_t magnitude = 0;
    const std::size_t digits_start = pos_;
    while (true) {
      const int digit = hex ? HexDigit(At()) : (IsDigit(At()) ? At() - '0' : -1);
      if (digit < 0) break;
      if (magnitude > (std::uint64_t(std::numeric_limits<std::int64_t>::max()) - digit) / base)
        Fail(token.line, "number out of range");
      magnitude = magnitude * base + std::uint64_t(digit);
      ++pos_;
    }
    if (pos_ == digits_start) Fail(token.line, "expected digits after '$'");
    if (At() == '.' && IsDigit(At(1))) Fail(token.line, "expected an integer: fractions are not supported");
    if (IsLetter(At()) || IsDigit(At()) || At() == '.') {
      while (IsLetter(At()) || IsDigit(At()) || At() == '.') ++pos_;
      Fail(token.line, "malformed number '" + std::string(text_.substr(start, pos_ - start)) + "'");
    }
    token.kind = Token::Kind::Integer;
    token.integer = negative ? -std::int64_t(magnitude) : std::int64_t(magnitude);
    return token;
  }

  // 'quoted' parts ('' is a quote) and #code characters, written next to each other.
  Token ReadString(Token& token) {
    token.kind = Token::Kind::String;
    while (At() == '\'' || At() == '#') {
      if (At() == '\'') {
        ++pos_;
        while (true) {
          if (AtEnd() || At() == '\n' || At() == '\r') Fail(token.line, "unterminated string");
          if (At() == '\'') {
            if (At(1) != '\'') break;
            ++pos_;
          }
          token.text += text_[pos_++];
        }
        ++pos_;
      } else {
        ++pos_;
        const bool hex = At() == '$';
        if (hex) ++pos_;
        std::uint32_t code = 0;
        int digits = 0;
        while (true) {
          const int digit = hex ? HexDigit(At()) : (IsDigit(At()) ? At() - '0' : -1);
          if (digit < 0) break;
          code = code * (hex ? 16 : 10) + std::uint32_t(digit);
          if (code > 0x10FFFF) Fail(token.line, "character code out of range");
          ++digits;
          ++pos_;
        }
        if (digits == 0) Fail(token.line, "expected a character code after '#'");
        AppendUtf8(token.text, code);
      }
    }
    return token;
  }

  // { hex digits }, over any number of lines.
  Token ReadBinary(Token& token) {
    ++pos_;
    token.kind = Token::Kind::Binary;
    int high = -1;
    while (true) {
      if (AtEnd()) Fail(token.line, "binary data begun here is not closed with '}'");
      const char c = text_[pos_++];
      if (c == '}') break;
      if (c == '\n') ++line_;
      if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
      const int digit = HexDigit(c);
      if (digit < 0) Fail(line_, std::string("invalid character '") + c + "' in binary data");
      if (high < 0) {
        high = digit;
      } else {
        token.bytes.push_back(std::uint8_t(high << 4 | digit));
        high = -1;
      }
    }
    if (high >= 0) Fail(token.line, "odd number of hex digits in binary data");
    return token;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  int line_ = 1;
  int last_token_line_ = 1;
  std::optional<Token> peeked_;
};

// ---- The object tree ---------------------------------------------------------------

struct PropertyNode {
  std::string name;
  int line = 0;
  LayoutValue value;
};

struct ObjectNode {
  std::string name;
  std::string class_name;
  int line = 0;
  std::vector<PropertyNode> properties;
  std::vector<ObjectNode> children;
};

bool IsObjectKeyword(const Token& token) {
  return token.IsWord("object") || token.IsWord("inherited") || token.IsWord("inline");
}

class Parser {
 public:
  explicit Parser(std::string_view text) : lexer_(text) {}

  ObjectNode ParseLayout() {
    const Token first = lexer_.Next();
    if (!IsObjectKeyword(first)) Fail(first.line, "expected 'object', found " + first.Describe());
    ObjectNode root = ParseObject(first.line);
    const Token rest = lexer_.Next();
    if (rest.kind != Token::Kind::End)
      Fail(rest.line, "expected the end of the layout after the last 'end', found " + rest.Describe());
    return root;
  }

 private:
  ObjectNode ParseObject(int line) {
    ObjectNode node;
    node.line = line;
    const Token name = lexer_.Next();
    if (name.kind != Token::Kind::Identifier || name.text.find('.') != std::string::npos)
      Fail(name.line, "expected a component name after 'object', found " + name.Describe());
    node.name = name.text;
    const Token colon = lexer_.Next();
    if (!colon.Is(':')) Fail(colon.line, "expected ':' after component name");
    const Token class_name = lexer_.Next();
    if (class_name.kind != Token::Kind::Identifier || class_name.text.find('.') != std::string::npos)
      Fail(class_name.line, "expected a class name after ':', found " + class_name.Describe());
    node.class_name = class_name.text;

    while (true) {
      const Token token = lexer_.Next();
      if (token.kind == Token::Kind::End)
        Fail(token.line, "expected 'end' of object '" + node.name + "' begun on line " + std::to_string(line));
      if (token.IsWord("end")) return node;
      if (IsObjectKeyword(token)) {
        node.children.push_back(ParseObject(token.line));
        continue;
      }
      if (token.kind != Token::Kind::Identifier)
        Fail(token.line, "expected a property name, 'object' or 'end', found " + token.Describe());
      PropertyNode property;
      property.name = token.text;
      property.line = token.line;
      const Token equals = lexer_.Next();
      if (!equals.Is('=') || equals.line != token.line) Fail(token.line, "expected '=' after property name");
      // A value begins on its property's line (lists and binary data may go on below).
      if (lexer_.Peek().line != token.line) Fail(token.line, "expected a value after '='");
      property.value = ParseValue();
      node.properties.push_back(std::move(property));
    }
  }

  LayoutValue ParseValue() {
    Token token = lexer_.Next();
    LayoutValue value;
    value.line = token.line;
    switch (token.kind) {
      case Token::Kind::Integer:
        value.kind = LayoutValue::Kind::Integer;
        value.integer = token.integer;
        return value;
      case Token::Kind::String:
        value.kind = LayoutValue::Kind::String;
        value.text = std::move(token.text);
        // Long strings are stored in pieces joined by '+', over several lines.
        while (lexer_.Peek().Is('+')) {
          lexer_.Next();
          const Token piece = lexer_.Next();
          if (piece.kind != Token::Kind::String) Fail(piece.line, "expected a string after '+'");
          value.text += piece.text;
        }
        return value;
      case Token::Kind::Identifier:
        if (token.IsWord("True") || token.IsWord("False")) {
          value.kind = LayoutValue::Kind::Boolean;
          value.boolean = token.IsWord("True");
        } else {
          value.kind = LayoutValue::Kind::Identifier;
          value.text = std::move(token.text);
        }
        return value;
      case Token::Kind::Binary:
        value.kind = LayoutValue::Kind::Binary;
        value.bytes = std::move(token.bytes);
        return value;
      case Token::Kind::Symbol:
        if (token.Is('(') || token.Is('[')) return ParseList(token, token.Is('(') ? ')' : ']');
        break;
      case Token::Kind::End:
        break;
    }
    Fail(token.line, "expected a value, found " + token.Describe());
  }

  // ( item item … ) or [ item, item … ]: items apart by blanks, line breaks or commas.
  LayoutValue ParseList(const Token& open, char close) {
    LayoutValue list;
    list.kind = LayoutValue::Kind::List;
    list.line = open.line;
    while (true) {
      const Token& next = lexer_.Peek();
      if (next.Is(close)) {
        lexer_.Next();
        return list;
      }
      if (next.kind == Token::Kind::End)
        Fail(next.line, std::string("expected '") + close + "' to close the list begun on line " +
                            std::to_string(open.line));
      list.items.push_back(ParseValue());
      if (lexer_.Peek().Is(',')) lexer_.Next();
    }
  }

  Lexer lexer_;
};

// The class name of the form's own class, as the layout names it.
std::string ClassNameOf(const TForm& form) {
  const char* mangled = typeid(form).name();
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> demangled(abi::__cxa_demangle(mangled, nullptr, nullptr, &status),
                                                   std::free);
  std::string name = status == 0 && demangled ? demangled.get() : mangled;
  const std::size_t colons = name.rfind("::");
  return colons == std::string::npos ? name : name.substr(colons + 2);
}

// Handler properties are resolved at once, whatever their value is called.
bool IsEventProperty(std::string_view name) {
  return name.size() > 2 && (name[0] == 'O' || name[0] == 'o') && (name[1] == 'n' || name[1] == 'N') &&
         name[2] >= 'A' && name[2] <= 'Z';
}

}  // namespace

// Builds a form from its object tree. A friend of TForm: it binds the form's fields.
class LayoutLoader final : public LoadContext {
 public:
  LayoutLoader(TForm& form, const ObjectNode& root) : form_(form), root_(root) {}

  void Load() {
    const std::size_t components_before = form_.Components().size();
    try {
      const std::string form_class = ClassNameOf(form_);
      if (!SameName(form_class, root_.class_name))
        Fail(root_.line, "the layout is of class " + root_.class_name + ", the form is a " + form_class);
      CollectNames(root_);

      form_.SetName(root_.name);
      form_.BeginLoading();
      ApplyProperties(form_, root_);
      for (const ObjectNode& child : root_.children) Create(child, &form_);
      for (const Deferred& deferred : deferred_) ApplyProperty(*deferred.target, *deferred.node, *deferred.property);
      form_.Loaded();
      for (std::size_t i = 0; i < created_.size(); ++i) created_[i]->Loaded();
    } catch (...) {
      // Takes down what this read made, last made first, and clears the fields.
      for (const ObjectNode* node : created_nodes_) form_.AssignField(node->name, nullptr);
      while (form_.Components().size() > components_before) delete form_.Components().back();
      throw;
    }
  }

  const std::any* Handler(std::string_view name) const override { return form_.FindHandler(name); }

  TComponent* FindComponent(std::string_view name) const override {
    if (SameName(name, form_.Name())) return &form_;
    return form_.FindComponent(name);
  }

 private:
  struct Deferred {
    TComponent* target;
    const ObjectNode* node;
    const PropertyNode* property;
  };

  void CollectNames(const ObjectNode& node) {
    for (const std::string& known : names_)
      if (SameName(known, node.name)) Fail(node.line, "duplicate component name '" + node.name + "'");
    names_.push_back(node.name);
    for (const ObjectNode& child : node.children) CollectNames(child);
  }

  bool NamesComponent(const LayoutValue& value) const {
    if (value.kind != LayoutValue::Kind::Identifier) return false;
    return std::any_of(names_.begin(), names_.end(), [&](const std::string& name) { return SameName(name, value.text); });
  }

  // Applies a component's properties in stored order, holding back those that
  // name another component until every component exists.
  void ApplyProperties(TComponent& target, const ObjectNode& node) {
    for (const PropertyNode& property : node.properties) {
      const bool reference = !IsEventProperty(property.name) &&
                             (NamesComponent(property.value) || target.IsReferenceProperty(property.name));
      if (reference) deferred_.push_back({&target, &node, &property});
      else ApplyProperty(target, node, property);
    }
  }

  void ApplyProperty(TComponent& target, const ObjectNode& node, const PropertyNode& property) {
    try {
      target.SetProperty(property.name, property.value, *this);
    } catch (const EUnknownProperty& error) {
      Fail(property.line, "unknown property '" + error.Property() + "' of " + node.class_name);
    } catch (const ELayoutError& error) {
      const std::string message = error.what();
      if (message.rfind("line ", 0) == 0) throw;
      Fail(property.line, message);
    }
  }

  void Create(const ObjectNode& node, TWinControl* parent) {
    TComponent* component = CreateComponent(node.class_name, &form_);
    if (!component) Fail(node.line, "unknown class '" + node.class_name + "'");
    if (component->Owner() != &form_) {
      delete component;
      Fail(node.line, "class '" + node.class_name + "' did not make its component for the form");
    }
    created_.push_back(component);
    created_nodes_.push_back(&node);
    component->SetName(node.name);
    component->BeginLoading();
    if (!form_.AssignField(node.name, component))
      Fail(node.line, "component '" + node.name + "' is a " + node.class_name +
                          ", which the form's field of that name cannot hold");
    TWinControl* container = parent;
    if (auto* control = dynamic_cast<TControl*>(component)) control->SetParent(parent);
    if (auto* windowed = dynamic_cast<TWinControl*>(component)) container = windowed;
    ApplyProperties(*component, node);
    for (const ObjectNode& child : node.children) Create(child, container);
  }

  TForm& form_;
  const ObjectNode& root_;
  std::vector<std::string> names_;
  std::vector<TComponent*> created_;
  std::vector<const ObjectNode*> created_nodes_;
  std::vector<Deferred> deferred_;
};

void ReadComponentResource(TForm& form, std::string_view text) {
  const ObjectNode root = Parser(text).ParseLayout();
  LayoutLoader(form, root).Load();
}

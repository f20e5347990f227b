#include "media/layout_values.h"

#include "platform/ui/application.h"

void ThrowBadValue(std::string_view name, const LayoutValue& value, std::string_view expected) {
  throw ELayoutError("line " + std::to_string(value.line) + ": " + std::string(name) +
                     ": expected " + std::string(expected) + ", found " +
                     LayoutValue::KindName(value.kind) +
                     (value.text.empty() ? std::string() : " " + value.text));
}

bool BooleanProperty(std::string_view name, const LayoutValue& value) {
  if (value.kind != LayoutValue::Kind::Boolean) ThrowBadValue(name, value, "True or False");
  return value.boolean;
}

const std::string& IdentifierProperty(std::string_view name, const LayoutValue& value) {
  if (value.kind != LayoutValue::Kind::Identifier) ThrowBadValue(name, value, "an identifier");
  return value.text;
}

void ReportUnhandled(const std::exception& error) {
  if (TApplication* application = Application()) application->HandleException(error);
}

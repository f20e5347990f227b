#pragma once

#include <string>
#include <string_view>

#include "platform/ui/component.h"

// Reading the stored values of media components; a value of the wrong kind
// raises ELayoutError naming the line and the property.
bool BooleanProperty(std::string_view name, const LayoutValue& value);
const std::string& IdentifierProperty(std::string_view name, const LayoutValue& value);
[[noreturn]] void ThrowBadValue(std::string_view name, const LayoutValue& value,
                                std::string_view expected);
// The component a reference property names, as T; ELayoutError when there is none of that class.
template <class T>
T* ComponentProperty(std::string_view name, const LayoutValue& value, const LoadContext& context) {
  const std::string& target = IdentifierProperty(name, value);
  T* found = dynamic_cast<T*>(context.FindComponent(target));
  if (!found) ThrowBadValue(name, value, "the name of a component of the right class");
  return found;
}
// Reports an error that cannot leave the place it arose in (a destructor).
void ReportUnhandled(const std::exception& error);

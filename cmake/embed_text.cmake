# Writes INPUT into OUTPUT as a C++ string constant named SYMBOL.
file(READ ${INPUT} content)
string(LENGTH "${content}" length)
set(delimiter "layout_text_")
file(WRITE ${OUTPUT} "// Generated from ${INPUT}; do not edit.\n#include <string_view>\n"
  "extern const std::string_view ${SYMBOL};\n"
  "const std::string_view ${SYMBOL} = R\"${delimiter}(${content})${delimiter}\";\n")

# cmake -DINPUT=file -DOUTPUT=header -DVARIABLE=name -P embed_text.cmake
# Writes the text of INPUT into OUTPUT as the string_view VARIABLE.
file(READ ${INPUT} text)
string(FIND "${text}" ")tsv\"" clash)
if(NOT clash EQUAL -1)
  message(FATAL_ERROR "${INPUT} contains the raw-string delimiter )tsv\"")
endif()
file(WRITE ${OUTPUT}.tmp "// Generated from ${INPUT}; edit that file instead.\n#pragma once\n#include <string_view>\n\ninline constexpr std::string_view ${VARIABLE} = R\"tsv(${text})tsv\";\n")
file(COPY_FILE ${OUTPUT}.tmp ${OUTPUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUTPUT}.tmp)

# cmake -DINPUT=file -DOUTPUT=header -P embed_text.cmake
# Writes the text of INPUT into OUTPUT as the string_view kSegmentTableText.
file(READ ${INPUT} text)
string(FIND "${text}" ")tsv\"" clash)
if(NOT clash EQUAL -1)
  message(FATAL_ERROR "${INPUT} contains the raw-string delimiter )tsv\"")
endif()
file(WRITE ${OUTPUT}.tmp "// Generated from ${INPUT}; edit that file instead.\n#pragma once\n#include <string_view>\n\ninline constexpr std::string_view kSegmentTableText = R\"tsv(${text})tsv\";\n")
file(COPY_FILE ${OUTPUT}.tmp ${OUTPUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUTPUT}.tmp)

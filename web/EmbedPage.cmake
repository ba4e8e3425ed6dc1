# Writes OUT, a C++ source that holds HTML with the script JS put in place of its
# "/*kwz-web.js*/" marker, so the gateway serves one self-contained document.
file(READ ${HTML} html)
file(READ ${JS} js)
string(REPLACE "/*kwz-web.js*/" "${js}" page "${html}")
string(FIND "${page}" ")kwzpage\"" clash)
if(NOT clash EQUAL -1)
  message(FATAL_ERROR "the page may not contain the raw string's closing delimiter")
endif()
set(source "// Generated from web/page/ by EmbedPage.cmake.\n#include \"web/PageAssets.h\"\n\nnamespace kwz_web {\n\nconst std::string& PageHtml() {\n  static const std::string page = R\"kwzpage(${page})kwzpage\";\n  return page;\n}\n\n}  // namespace kwz_web\n")
file(WRITE ${OUT}.tmp "${source}")
file(COPY_FILE ${OUT}.tmp ${OUT} ONLY_IF_DIFFERENT)

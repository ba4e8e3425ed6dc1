// Build tool: writes the control's type library image as a C++ source that links it into the
// module as resource TYPELIB 1, the way a resource compiler embeds a compiled library.
//
//   kwz_write_typelib <output.cpp>
#include <cstdio>
#include <fstream>
#include <vector>

#include "control/ScreenReceiverTypeLib.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: kwz_write_typelib <output.cpp>\n");
    return 2;
  }
  const std::vector<unsigned char> image =
      kwz_platform::WriteTypeLibImage(ScreenReceiverTypeLibData());
  std::ofstream out(argv[1], std::ios::trunc);
  out << "// Written by kwz_write_typelib from the control's type library description.\n"
         "#include \"platform/resource_section.h\"\n\n"
         "namespace {\n\n"
         "KWZ_RESOURCE(kTypeLib, \"TYPELIB\", 1,\n";
  // Every byte escaped, so that no escape can swallow the character after it.
  constexpr std::size_t kPerLine = 24;
  for (std::size_t i = 0; i < image.size(); i += kPerLine) {
    out << "             \"";
    for (std::size_t j = i; j < image.size() && j < i + kPerLine; ++j) {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", image[j]);
      out << escaped;
    }
    out << "\"\n";
  }
  out << ");\n\n}  // namespace\n";
  out.close();
  if (!out) {
    std::fprintf(stderr, "kwz_write_typelib: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}

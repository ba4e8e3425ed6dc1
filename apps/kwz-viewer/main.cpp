// kwz-viewer: the container program of the screen receiver control. See ViewerOptions.cpp for
// its command line.
#include <cstdio>
#include <string>

#include "apps/ProgramVersion.h"
#include "apps/kwz-viewer/ViewerOptions.h"
#include "apps/kwz-viewer/ViewerRun.h"
#include "platform/winerror.h"

int main(int argc, char** argv) {
  kwz_viewer::ViewerOptions options;
  std::string error;
  switch (kwz_viewer::ParseViewerOptions(argc, argv, &options, &error)) {
    case kwz_viewer::ParseResult::kHelp:
      std::fputs(kwz_viewer::ViewerUsage(), stdout);
      return 0;
    case kwz_viewer::ParseResult::kVersion:
      return kwz_apps::PrintVersion("kwz-viewer");
    case kwz_viewer::ParseResult::kBadArguments:
      kwz_viewer::PrintError(E_INVALIDARG, (error + " (see kwz-viewer --help)").c_str());
      return 1;
    case kwz_viewer::ParseResult::kRun:
      break;
  }
  return kwz_viewer::RunViewer(options);
}

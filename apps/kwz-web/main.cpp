// kwz-web: shows a screen stream in web browsers, with remote control from the page.
#include <cstdio>

#include "apps/ProgramVersion.h"
#include "apps/kwz-web/WebOptions.h"
#include "platform/gdi_session.h"

int main(int argc, char** argv) {
  kwz_web::GatewayOptions options;
  std::string error;
  switch (kwz_webapp::ParseWebOptions(argc, argv, &options, &error)) {
    case kwz_webapp::ParseResult::kHelp:
      std::fputs(kwz_webapp::WebUsage(), stdout);
      return 0;
    case kwz_webapp::ParseResult::kVersion:
      return kwz_apps::PrintVersion("kwz-web");
    case kwz_webapp::ParseResult::kBadArguments:
      std::fprintf(stderr, "kwz-web: %s\n", error.c_str());
      return 2;
    case kwz_webapp::ParseResult::kRun:
      break;
  }
  // The gateway shows nothing itself; the decoders it runs for browsers need no display.
  kwz_platform::SelectGdiBackend(kwz_platform::GdiBackendKind::kHeadless);
  kwz_web::WebGateway gateway(std::move(options));
  if (!gateway.Open(&error)) {
    std::fprintf(stderr, "kwz-web: %s\n", error.c_str());
    return 1;
  }
  std::printf("kwz-web: %s\n", gateway.Url().c_str());
  std::fflush(stdout);
  gateway.Run();
  return 0;
}

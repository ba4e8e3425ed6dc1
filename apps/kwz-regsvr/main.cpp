// kwz-regsvr: registers or unregisters an in-process server module, as regsvr32 does.
//
//   kwz-regsvr [/u | --unregister] [--user] [/s] MODULE
//   kwz-regsvr --help | --version
//
// Exit status as regsvr32's: 0 done, 1 bad arguments, 2 COM would not start, 3 the module did
// not load, 4 it lacks the entry point, 5 the entry point failed.
#include <cstdio>
#include <cstring>
#include <string>

#include "apps/ProgramVersion.h"
#include "platform/com.h"
#include "platform/dxerr.h"
#include "platform/libloaderapi.h"
#include "platform/oleauto.h"
#include "platform/registrar.h"
#include "platform/widestring.h"
#include "platform/winerror.h"

namespace {

constexpr const char* kUsage =
    "Usage: kwz-regsvr [/u | --unregister] [--user] [/s] MODULE\n"
    "Registers the in-process server MODULE (a shared library exporting DllRegisterServer) by\n"
    "calling that entry point, or unregisters it through DllUnregisterServer.\n"
    "\n"
    "  /u, --unregister   unregister instead of registering\n"
    "  --user             for the current user only (HKCU\\Software\\Classes), not machine-wide\n"
    "  /s, --silent       print nothing on success\n"
    "  --help             this text\n"
    "  --version          the program's version\n"
    "\n"
    "Exit status: 0 done, 1 bad arguments, 2 COM would not start, 3 the module did not load,\n"
    "4 it lacks the entry point, 5 the entry point failed.\n";

struct Options {
  bool unregister = false;
  bool user = false;
  bool silent = false;
  std::string module;
};

enum class Answer { kNone, kHelp, kVersion };

// 0 to go on, else the exit status (help and version: 0, answered by the caller).
int Parse(int argc, char** argv, Options* options, Answer* answer) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "/u" || arg == "-u" || arg == "--unregister") {
      options->unregister = true;
    } else if (arg == "--user") {
      options->user = true;
    } else if (arg == "/s" || arg == "-s" || arg == "--silent") {
      options->silent = true;
    } else if (arg == "--help" || arg == "-h" || arg == "/?") {
      *answer = Answer::kHelp;
      return 0;
    } else if (arg == "--version") {
      *answer = Answer::kVersion;
      return 0;
    } else if (!arg.empty() && arg[0] == '-') {
      std::fprintf(stderr, "kwz-regsvr: unknown option '%s'\n%s", arg.c_str(), kUsage);
      return 1;
    } else if (options->module.empty()) {
      options->module = arg;
    } else {
      std::fprintf(stderr, "kwz-regsvr: only one module at a time ('%s')\n%s", arg.c_str(), kUsage);
      return 1;
    }
  }
  if (options->module.empty()) {
    std::fprintf(stderr, "kwz-regsvr: no module given\n%s", kUsage);
    return 1;
  }
  return 0;
}

std::string ErrorText(HRESULT hr) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(hr));
  std::string text = std::string(code) + " (" + Narrow(DXGetErrorStringW(hr)) + ")";
  IErrorInfo* info = nullptr;
  if (GetErrorInfo(0, &info) == S_OK && info != nullptr) {
    BSTR description = nullptr;
    if (SUCCEEDED(info->GetDescription(&description)) && description != nullptr) {
      text += ": " + Narrow(description);
    }
    SysFreeString(description);
    info->Release();
  }
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  Answer answer = Answer::kNone;
  if (const int status = Parse(argc, argv, &options, &answer); status != 0) return status;
  if (answer == Answer::kHelp) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (answer == Answer::kVersion) return kwz_apps::PrintVersion("kwz-regsvr");
  const char* entry = options.unregister ? "DllUnregisterServer" : "DllRegisterServer";
  if (FAILED(CoInitialize(nullptr))) {
    std::fprintf(stderr, "kwz-regsvr: COM could not be initialised.\n");
    return 2;
  }
  AtlSetPerUserRegistration(options.user);
  int status = 0;
  const std::u16string path = Widen(options.module.c_str());
  HMODULE module = LoadLibraryW(path.c_str());
  if (module == nullptr) {
    std::fprintf(stderr,
                 "The module \"%s\" failed to load.\n\nMake sure the binary is stored at the "
                 "specified path and that the libraries it needs can be found.\n",
                 options.module.c_str());
    status = 3;
  } else {
    auto call = reinterpret_cast<HRESULT (*)()>(GetProcAddress(module, entry));
    if (call == nullptr) {
      std::fprintf(stderr,
                   "The module \"%s\" was loaded but the entry-point %s was not found.\n\n"
                   "Make sure that \"%s\" is a valid in-process server module.\n",
                   options.module.c_str(), entry, options.module.c_str());
      status = 4;
    } else if (const HRESULT hr = call(); FAILED(hr)) {
      std::fprintf(stderr,
                   "The module \"%s\" was loaded but the call to %s failed with error code "
                   "%s.\n",
                   options.module.c_str(), entry, ErrorText(hr).c_str());
      status = 5;
    } else if (!options.silent) {
      std::printf("%s in %s succeeded%s.\n", entry, options.module.c_str(),
                  options.user ? " (current user)" : "");
    }
    FreeLibrary(module);
  }
  CoUninitialize();
  return status;
}

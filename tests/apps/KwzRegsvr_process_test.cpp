// kwz-regsvr and kwz-viewer as a user runs them, against a private registry: messages, exit
// statuses and what registration leaves behind.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/winreg.h"
#include "tests/apps/ProgramRun.h"
#include "tests/platform/RegistryTestSupport.h"
#include "tests/support/ChildProcess.h"

namespace {

using kwz_test::KeyExists;
using kwz_test::ReadText;
using kwz_test::RunProgram;
using kwz_test::ScopedRegistry;

constexpr const char* kClassKey = "CLSID\\{4B575A10-5C52-4E63-9A31-0D7E6F5A1001}";
constexpr int kTimeoutMs = 60000;

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

kwz_test::ProgramResult RunUnloading(const std::string& path, const std::vector<std::string>& args,
                                     const std::string& folder = {}) {
  kwz_test::ScopedNoLeakCheck noLeakCheck;
  return RunProgram(path, args, kTimeoutMs, folder);
}

// (Machine-wide, silently, as the package's scripts do it, is the package's test.)
TEST(KwzRegsvr, RegistersAndUnregistersPerUser) {
  ScopedRegistry registry;
  const std::u16string userKey = Widen((std::string("Software\\Classes\\") + kClassKey).c_str());
  auto result = RunUnloading(KWZ_REGSVR_PATH, {"--user", KWZ_MODULE_PATH});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_TRUE(
      Contains(result.out, std::string("DllRegisterServer in ") + KWZ_MODULE_PATH + " succeeded"))
      << result.out;
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, userKey.c_str()));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, userKey.c_str()));

  result = RunUnloading(KWZ_REGSVR_PATH, {"--unregister", "--user", KWZ_MODULE_PATH});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_TRUE(Contains(result.out, "DllUnregisterServer in ")) << result.out;
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, Widen(kClassKey).c_str()));
}

// A module named without its folder is found as regsvr32 finds it (beside the program, or in the
// current folder), and the class is registered with the full path of the file loaded, so that
// containers find it from any folder.
TEST(KwzRegsvr, FindsANamedModuleAndRegistersItsFullPath) {
  const std::filesystem::path module = std::filesystem::canonical(KWZ_MODULE_PATH);
  const struct {
    bool programBesideModule;  // run a copy of kwz-regsvr from a folder that links the module
    bool inModuleFolder;       // run in the module's folder, else in "/"
    const char* prefix;        // before the module's file name
    int exitCode;
  } cases[] = {
      {false, true, "", 0}, {false, true, "./", 0}, {true, false, "", 0}, {false, false, "", 3}};
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    ScopedRegistry registry;
    kwz_test::TempDir dir;
    std::string program = KWZ_REGSVR_PATH;
    if (c.programBesideModule) {
      program = std::string(dir.path()) + "/kwz-regsvr";
      std::filesystem::copy_file(KWZ_REGSVR_PATH, program);
      std::filesystem::create_symlink(module, std::string(dir.path()) / module.filename());
    }
    const auto result =
        RunUnloading(program, {"--user", c.prefix + module.filename().string()},
                     c.inModuleFolder ? module.parent_path().string() : std::string("/"));
    ASSERT_EQ(result.exitCode, c.exitCode) << result.out << result.err;
    if (c.exitCode == 0) {
      EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT,
                         Widen((std::string(kClassKey) + "\\InprocServer32").c_str()).c_str()),
                module.string());
    }
  }
}

// regsvr32's exit statuses, each with the message that says why; and kwz-viewer's, for a control
// that is not registered and for a bad argument.
TEST(KwzRegsvr, FailsWithItsStatusAndMessage) {
  ScopedRegistry registry;
  const std::string regsvr = KWZ_REGSVR_PATH, viewer = KWZ_VIEWER_PATH;
  const struct {
    const std::string& program;
    int exitCode;
    const char* message;
    std::vector<std::string> args;
  } cases[] = {
      {regsvr, 1, "no module given", {"--user"}},
      {regsvr, 1, "unknown option '--machine'", {"--machine", KWZ_MODULE_PATH}},
      {regsvr, 1, "only one module", {"a.so", "b.so"}},
      {regsvr, 3, "The module \"/nonexistent/x.so\" failed to load", {"/nonexistent/x.so"}},
      {regsvr, 4, "the entry-point DllRegisterServer was not found", {KWZ_PLATFORM_PATH}},
      {regsvr, 4, "the entry-point DllUnregisterServer was not found", {"/u", KWZ_PLATFORM_PATH}},
      {viewer,
       1,
       "with: kwz-regsvr [--user] <path to libkwz_screenreceiver.so>",
       {"--headless", "--source-address", "127.0.0.1"}},
      {viewer, 1, "error: E_INVALIDARG 0x80070057: --size: 'wide'", {"--size", "wide"}}};
  for (const auto& c : cases) {
    const auto result = RunUnloading(c.program, c.args);
    EXPECT_EQ(result.exitCode, c.exitCode) << result.out << result.err;
    EXPECT_TRUE(Contains(result.err, c.message)) << result.err;
    EXPECT_FALSE(Contains(result.out, "succeeded"));
  }
}

TEST(KwzRegsvr, FailingEntryPointReportsItsResult) {
  ScopedRegistry registry;
  ASSERT_EQ(kwz_test::WriteText(HKEY_CURRENT_USER, u"Seed", nullptr, u"v"), ERROR_SUCCESS);
  std::ofstream(registry.UserFile(), std::ios::trunc) << "KWZ-REGISTRY 1\n[Seed]\n";  // cut short
  const auto result = RunUnloading(KWZ_REGSVR_PATH, {"--user", KWZ_MODULE_PATH});
  EXPECT_EQ(result.exitCode, 5);
  EXPECT_TRUE(Contains(result.err,
                       "the call to DllRegisterServer failed with error code "
                       "0x800703F1 (ERROR_BADDB)"))
      << result.err;
}

}  // namespace

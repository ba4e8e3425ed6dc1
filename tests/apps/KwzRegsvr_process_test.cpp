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

kwz_test::ProgramResult Regsvr(const std::vector<std::string>& args) {
  return RunUnloading(KWZ_REGSVR_PATH, args);
}

TEST(KwzRegsvr, RegistersAndUnregistersPerUser) {
  ScopedRegistry registry;
  auto result = Regsvr({"--user", KWZ_MODULE_PATH});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_TRUE(
      Contains(result.out, std::string("DllRegisterServer in ") + KWZ_MODULE_PATH + " succeeded"))
      << result.out;
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER,
                        Widen((std::string("Software\\Classes\\") + kClassKey).c_str()).c_str()));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE,
                         Widen((std::string("Software\\Classes\\") + kClassKey).c_str()).c_str()));

  result = Regsvr({"/u", "--user", KWZ_MODULE_PATH});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_TRUE(Contains(result.out, "DllUnregisterServer in ")) << result.out;
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, Widen(kClassKey).c_str()));

  result = Regsvr({"/s", KWZ_MODULE_PATH});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out, "") << "/s is silent";
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE,
                        Widen((std::string("Software\\Classes\\") + kClassKey).c_str()).c_str()));
  result = Regsvr({"--unregister", KWZ_MODULE_PATH});
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, Widen(kClassKey).c_str()));
}

// A module named without its folder is found as regsvr32 finds it (beside the program, or in the
// current folder), and the class is registered with the full path of the file loaded, so that
// containers find it from any folder.
struct NamedModule {
  const char* name;
  bool programBesideModule;  // run a copy of kwz-regsvr from a folder that links the module
  bool inModuleFolder;       // run in the module's folder, else in "/"
  const char* prefix;        // before the module's file name
  int exitCode;
};

class KwzRegsvrFindsModule : public ::testing::TestWithParam<NamedModule> {};

TEST_P(KwzRegsvrFindsModule, AndRegistersItsFullPath) {
  const NamedModule& c = GetParam();
  ScopedRegistry registry;
  const std::filesystem::path module = std::filesystem::canonical(KWZ_MODULE_PATH);
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
  if (c.exitCode != 0) return;
  EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT,
                     Widen((std::string(kClassKey) + "\\InprocServer32").c_str()).c_str()),
            module.string());
}

INSTANTIATE_TEST_SUITE_P(Cases, KwzRegsvrFindsModule,
                         ::testing::Values(NamedModule{"current_folder", false, true, "", 0},
                                           NamedModule{"relative_path", false, true, "./", 0},
                                           NamedModule{"program_folder", true, false, "", 0},
                                           NamedModule{"elsewhere", false, false, "", 3}),
                         [](const auto& info) { return std::string(info.param.name); });

// regsvr32's exit statuses, each with the message that says why.
struct Failure {
  const char* name;
  std::vector<std::string> args;
  int exitCode;
  const char* message;
};

class KwzRegsvrFails : public ::testing::TestWithParam<Failure> {};

TEST_P(KwzRegsvrFails, WithItsStatusAndMessage) {
  ScopedRegistry registry;
  const auto result = Regsvr(GetParam().args);
  EXPECT_EQ(result.exitCode, GetParam().exitCode) << result.out << result.err;
  EXPECT_TRUE(Contains(result.err, GetParam().message)) << result.err;
  EXPECT_FALSE(Contains(result.out, "succeeded"));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, KwzRegsvrFails,
    ::testing::Values(
        Failure{"no_module", {"--user"}, 1, "no module given"},
        Failure{"unknown_option", {"--machine", KWZ_MODULE_PATH}, 1, "unknown option '--machine'"},
        Failure{"two_modules", {"a.so", "b.so"}, 1, "only one module"},
        Failure{"missing_file",
                {"/nonexistent/libnothing.so"},
                3,
                "The module \"/nonexistent/libnothing.so\" failed to load"},
        Failure{"not_a_server",
                {KWZ_PLATFORM_PATH},
                4,
                "the entry-point DllRegisterServer was not found"},
        Failure{"not_a_server_u",
                {"/u", KWZ_PLATFORM_PATH},
                4,
                "the entry-point DllUnregisterServer was not found"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(KwzRegsvr, FailingEntryPointReportsItsResult) {
  ScopedRegistry registry;
  ASSERT_EQ(kwz_test::WriteText(HKEY_CURRENT_USER, u"Seed", nullptr, u"v"), ERROR_SUCCESS);
  std::ofstream(registry.UserFile(), std::ios::trunc) << "KWZ-REGISTRY 1\n[Seed]\n";  // cut short
  const auto result = Regsvr({"--user", KWZ_MODULE_PATH});
  EXPECT_EQ(result.exitCode, 5);
  EXPECT_TRUE(Contains(result.err,
                       "the call to DllRegisterServer failed with error code "
                       "0x800703F1 (ERROR_BADDB)"))
      << result.err;
}

TEST(KwzViewer, UnregisteredControlSaysHowToRegister) {
  ScopedRegistry registry;
  const auto result = RunUnloading(
      KWZ_VIEWER_PATH, {"--headless", "--seconds", "1", "--source-address", "127.0.0.1"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_TRUE(Contains(result.err, "error: REGDB_E_CLASSNOTREG 0x80040154: ")) << result.err;
  EXPECT_TRUE(Contains(result.err, "kwz-regsvr [--user] <path to libkwz_screenreceiver.so>"))
      << result.err;
}

TEST(KwzViewer, BadArgumentsGiveAClearErrorAndStatusOne) {
  const auto result = RunProgram(KWZ_VIEWER_PATH, {"--size", "wide"}, kTimeoutMs);
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_TRUE(Contains(result.err, "error: E_INVALIDARG 0x80070057: --size: 'wide'")) << result.err;
  EXPECT_EQ(result.out, "");
}

}  // namespace

// The frame: loading the settings, client validation with real programs, and the utilities.
#include <sys/stat.h>

#include <atomic>
#include <cstring>
#include <thread>

#include <fstream>
#include <sstream>

#include "engine/notify/notifychannels.h"
#include "platform/sync.h"
#include "tests/support/files.h"
#include "tests/support/wait.h"
#include "tests/webservice/web_fixture.h"

using namespace vtxtest;
using Hulvane::Web::Services::Vantrex;

namespace {

class Frame : public WebTest {
 protected:
  void SetUp() override {
    WebTest::SetUp();
    validators = WebDir() / "Validators";
    mkdir(validators.c_str(), 0755);
    argsFile = WebDir() / "args.txt";
    std::remove(argsFile.c_str());
    SetString("Path", WebDir().path().c_str());
    Script("accept.sh", "printf '%s\\n' \"$@\" > '" + argsFile + "'\nexit 0");
    Script("refuse.sh", "exit 3");
    Script("slow.sh", "sleep 20");
    Script("killed.sh", "kill -9 $$");
  }
  void TearDown() override {
    g_dwValidatorTimeoutMs = 30000;
    g_pfnPipeExecute = nullptr;
  }

  void Script(const std::string& name, const std::string& body) {
    ASSERT_TRUE(vtxtest::WriteScript(validators + "/" + name, body + "\n"));
  }
  std::string Args() { return vtxtest::ReadFile(argsFile); }
  // The outcome of one conversion: "ok", or the exception's type and HRESULT.
  std::string Call(const char* key) {
    try {
      Vantrex().ConvertToNum(M(key), M("EUR"), M("USD"), 1, false, M(nullptr), M(nullptr));
      return "ok";
    } catch (const WebException& e) {
      char hr[16];
      std::snprintf(hr, sizeof hr, "%08X", e.GetHResult());
      return std::string(e.TypeName()) + " " + hr + (e.IsClientFault() ? " client" : " server");
    }
  }
  std::string validators, argsFile;
};

}  // namespace

TEST_F(Frame, ValidatorDecidesWithItsExitStatus) {
  SetString("ClientValidation", "accept.sh --mode \"two words\"");
  EXPECT_EQ(Call("secret key"), "ok");
  EXPECT_EQ(Args(), "--mode\ntwo words\nsecret key\n");
  EXPECT_EQ(Call("a/b:c\"d\\e"), "ok");
  EXPECT_EQ(Args(), "--mode\ntwo words\na_b_c_d_e\n");
  EXPECT_EQ(Call(std::string(300, 'k').c_str()), "ok");
  EXPECT_EQ(Args(), "--mode\ntwo words\n" + std::string(254, 'k') + "\n");
  EXPECT_EQ(Call(nullptr), "ok");
  EXPECT_EQ(Args(), "--mode\ntwo words\n");

  SetString("ClientValidation", "refuse.sh");
  EXPECT_EQ(Call("k"), "System.UnauthorizedAccessException 80004005 client");
  SetString("ClientValidation", "killed.sh");
  EXPECT_EQ(Call("k"), "System.UnauthorizedAccessException 8007042B client");
  SetString("ClientValidation", "missing.sh");
  EXPECT_EQ(Call("k"), "System.UnauthorizedAccessException 80070002 client");
  g_dwValidatorTimeoutMs = 300;
  SetString("ClientValidation", "slow.sh");
  EXPECT_EQ(Call("k"), "System.UnauthorizedAccessException 800705B4 client");
}

TEST_F(Frame, ValidatorOutsideItsFolderIsRefusedUnstarted) {
  for (const char* line : {"../Validators/accept.sh", "Validators/accept.sh", "/bin/true", "c:accept.sh",
                           "\"sub\\accept.sh\" x"}) {
    SetString("ClientValidation", line);
    EXPECT_EQ(Call("k"), "System.UnauthorizedAccessException 80070057 client") << line;
  }
  EXPECT_EQ(Args(), "");
  try {
    Vantrex().RateNum(M("k"), M("EUR"), M("USD"), false, M(nullptr), M(nullptr));
    FAIL();
  } catch (const WebException& e) {
    EXPECT_NE(std::string(e.what()).find("sub\\accept.sh"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("Validators"), std::string::npos) << e.what();
  }
}

TEST_F(Frame, UnreadableSettingsFailEveryCallBeforeValidation) {
  SetString("ClientValidation", "accept.sh");
  ASSERT_TRUE(vtx::currency::DeleteKey(g_szAppKey));
  EXPECT_EQ(Call("k"), "System.Runtime.InteropServices.COMException 80070002 server");
  EXPECT_EQ(Args(), "");
}

TEST_F(Frame, TextsComeFromTheCatalogueWithFallbacks) {
  EXPECT_EQ(Call("k"), "ok");
  std::string cat = WebDir() / "test.cat";
  std::ofstream(cat) << "[strings]\n439 Program %1 is not in %2.\n512 No such currency here.\n";
  SetString("Resources0409", cat.c_str());
  SetString("Resources0000", cat.c_str());
  try {
    Vantrex().ConvertToNum(M("k"), M("EUR"), M("XXX"), 1, false, M(nullptr), M(nullptr));
    FAIL();
  } catch (const WebException& e) {
    EXPECT_STREQ(e.what(), "No such currency here.");
  }
  try {
    Vantrex().ConvertToNum(M("k"), M("EUR"), M("CHF"), 1, false, M(nullptr), M(nullptr));
    FAIL();
  } catch (const WebException& e) {
    EXPECT_STREQ(e.what(), "Currency rate not set.");
  }
  SetString("ClientValidation", "bin/x");
  try {
    Vantrex().ConvertToNum(M("k"), M("EUR"), M("USD"), 1, false, M(nullptr), M(nullptr));
    FAIL();
  } catch (const WebException& e) {
    EXPECT_STREQ(e.what(), "Program bin/x is not in Validators.");
  }
  try {
    ThrowAppException(99999);
  } catch (const WebException& e) {
    EXPECT_STREQ(e.what(), "Undefined Exception");
    EXPECT_STREQ(e.TypeName(), "System.ApplicationException");
  }
}

TEST_F(Frame, LocaleIdsFromNumbersAndNames) {
  CSettings s;
  ASSERT_TRUE(s.Create(nullptr));
  struct {
    const char* text;
    LCID lcid;
  } cases[] = {{nullptr, 0x800}, {"1031", 1031}, {"0x407", 0x407}, {"010", 8}, {"99999999999", 0xFFFFFFFF},
               {"DEU", 1031}, {"de", 1031}, {"deu", 1031}, {"Nowhere", 1033}};
  for (const auto& c : cases) EXPECT_EQ(GetLocaleID(M(c.text), &s), c.lcid) << (c.text ? c.text : "null");
  EXPECT_EQ(GetLocaleID(M("DEU"), nullptr), 0x800u);
}

TEST_F(Frame, CommandLinesSplitIntoProgramAndArguments) {
  struct {
    const char* line;
    const char* program;
    const char* arguments;
  } cases[] = {{"  check.sh -a b ", "check.sh", "-a b "}, {"\"my check.sh\"  x", "my check.sh", "x"},
               {"\"open", "open", ""}, {"   ", "", ""}, {"\"\" x", "", "x"}};
  for (const auto& c : cases) {
    CStringA program, arguments;
    SplitCommandLine(c.line, program, arguments);
    EXPECT_EQ(std::string(program.c_str()), c.program) << c.line;
    EXPECT_EQ(std::string(arguments.c_str()), c.arguments) << c.line;
  }
}

namespace {
std::string g_pipeParams, g_pipeAccount;
HRESULT g_pipeAnswer = 0;
HRESULT FakePipeExecute(const char* program, const char* parameters, const char* folder, const char* user,
                        const char* domain, const char* password, DWORD wait) {
  g_pipeParams = std::string(program) + "|" + parameters + "|" + (std::strstr(folder, "/Validators") ? "V" : folder);
  g_pipeAccount = std::string(domain) + "|" + user + "|" + password + "|" + std::to_string(wait);
  return g_pipeAnswer;
}
}  // namespace

TEST_F(Frame, MessengerRunsTheValidatorWithTheAccountAndAQuotedKey) {
  SetString("ClientValidation", "accept.sh -v");
  CSettings s;
  ASSERT_TRUE(s.Create(nullptr));
  s.GetData()->ClientValidationUserName = "CORP\\checker";
  s.GetData()->ClientValidationPassword = "pw";
  ASSERT_EQ(0u, s.Save());
  g_pfnPipeExecute = FakePipeExecute;
  g_pipeAnswer = 5;
  EXPECT_EQ(Call("two words"), "System.UnauthorizedAccessException 00000005 client");
  EXPECT_EQ(g_pipeParams, "accept.sh|-v \"two words\"|V");
  EXPECT_EQ(g_pipeAccount, "CORP|checker|pw|1");
  g_pipeAnswer = 0;
  EXPECT_EQ(Call("k"), "ok");
  // Without the messenger a configured account is not bypassed: the client is refused.
  g_pipeAnswer = E_SERVER_UNAVAILABLE;
  EXPECT_EQ(Call("direct"), "System.UnauthorizedAccessException 8007053D client");
  // With no account configured the program runs directly.
  s.GetData()->ClientValidationUserName = nullptr;
  ASSERT_EQ(0u, s.Save());
  EXPECT_EQ(Call("direct"), "ok");
  EXPECT_EQ(Args(), "-v\ndirect\n");
  g_pfnPipeExecute = nullptr;
}

TEST_F(Frame, SettingsLockIsWaitedForWithALimit) {
  HANDLE held = nullptr;
  std::atomic<bool> taken{false};
  std::thread holder([&] {
    held = CreateMutexA(nullptr, FALSE, g_szSettingsMutex);
    ASSERT_EQ(WaitForSingleObject(held, INFINITE), WAIT_OBJECT_0);
    taken = true;
    Sleep(1500);
    ReleaseMutex(held);
    CloseHandle(held);
  });
  EXPECT_TRUE(vtxtest::Eventually([&] { return taken.load(); }));
  g_dwSettingsLockTimeoutMs = 300;
  EXPECT_EQ(Call("k"), "System.Runtime.InteropServices.COMException 800705B4 server");
  g_dwSettingsLockTimeoutMs = 30000;
  EXPECT_EQ(Call("k"), "ok");  // waits for the holder
  holder.join();
}

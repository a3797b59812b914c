#include "platform/ui.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Streams {
  explicit Streams(const char* input) {
    in = fmemopen(inBuf, sizeof inBuf, "w+");
    fputs(input, in);
    rewind(in);
    out = open_memstream(&outBuf, &outLen);
  }
  ~Streams() {
    fclose(in);
    fclose(out);
    free(outBuf);
  }
  std::string Output() {
    fflush(out);
    return std::string(outBuf, outLen);
  }
  char inBuf[256] = {};
  FILE* in;
  FILE* out;
  char* outBuf = nullptr;
  size_t outLen = 0;
};

TEST(MessageBox, WithoutATerminalTheDefaultButtonAnswers) {
  struct Case {
    UINT type;
    int answer;
  } cases[] = {
      {MB_OK, IDOK},
      {MB_YESNO | MB_ICONQUESTION, IDYES},
      {MB_YESNO | MB_DEFBUTTON2, IDNO},
      {MB_YESNOCANCEL | MB_DEFBUTTON3, IDCANCEL},
      {MB_OKCANCEL | MB_DEFBUTTON3, IDOK},  // no third button: the first one
  };
  for (const Case& c : cases) {
    Streams s("n\n");  // never read
    EXPECT_EQ(vtx::ui::MessageBoxOn(s.in, s.out, false, "Import \xE9t\xE9?", "Vantrex", c.type), c.answer)
        << c.type;
    EXPECT_EQ(ftell(s.in), 0);
    EXPECT_NE(s.Output().find("Vantrex"), std::string::npos);
  }
  Streams s("");
  vtx::ui::MessageBoxOn(s.in, s.out, false, "Import \xE9t\xE9?", "Vantrex", MB_ICONHAND);
  EXPECT_EQ(s.Output(), "Vantrex (error): Import \xC3\xA9t\xC3\xA9?\n");  // ANSI text shown as UTF-8
}

TEST(MessageBox, OnATerminalTheAnswerIsRead) {
  struct Case {
    const char* input;
    UINT type;
    int answer;
  } cases[] = {
      {"n\n", MB_YESNO, IDNO},
      {"YES\n", MB_YESNO | MB_DEFBUTTON2, IDYES},
      {"maybe\nno\n", MB_YESNO, IDNO},  // asked again after a wrong answer
      {"\n", MB_YESNO | MB_DEFBUTTON2, IDNO},
      {"", MB_YESNOCANCEL, IDYES},  // end of input: the default
      {"r\n", MB_ABORTRETRYIGNORE, IDRETRY},
  };
  for (const Case& c : cases) {
    Streams s(c.input);
    EXPECT_EQ(vtx::ui::MessageBoxOn(s.in, s.out, true, "Go on?", "Vantrex", c.type), c.answer) << c.input;
  }
}

}  // namespace

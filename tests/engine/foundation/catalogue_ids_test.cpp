// The English catalogue holds every text that the programs name: the test walks the sources of the
// built programs, gathers the text numbers they load, and loads each from the shipped catalogue.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/resources.h"
#include "tests/support/files.h"
#include "tests/support/paths.h"

namespace fs = std::filesystem;

namespace {

// Where a text number is named in the code: calls and the argument positions that take one.
const std::map<std::string, std::vector<size_t>> kCalls = {
    {"NotifyError", {3, 4}},      {"ShowNotificationId", {3, 4}}, {"NotifyId", {1, 2}},
    {"FormatMessageBox", {1, 2}}, {"MessageBoxHResultOK", {1, 2}}, {"FormatItems", {1, 2}},
    {"PrintFormatMessage", {0}},  {"PrintFormatMessageNum", {0}},  {"AnnounceCodes", {0}},
    {"Say", {0, 1}},              {"ThrowAppException", {0}},      {"LoadStringA", {1}},
    {"LoadString", {1}},          {"ResourceText", {1}},           {"FormatString", {1}},
    {"SetErrorText", {2}},        {"FormatFetchText", {2}},        {"LoadText", {1}},
};

std::string WithoutComments(const std::string& src) {
  std::string out;
  for (size_t i = 0; i < src.size(); ++i) {
    if (src.compare(i, 2, "//") == 0) {
      while (i < src.size() && src[i] != '\n') ++i;
    } else if (src.compare(i, 2, "/*") == 0) {
      size_t end = src.find("*/", i + 2);
      i = end == std::string::npos ? src.size() : end + 1;
      continue;
    } else if (src[i] == '"') {  // strings may hold "//"
      out += src[i++];
      while (i < src.size() && src[i] != '"') {
        if (src[i] == '\\') out += src[i++];
        if (i < src.size()) out += src[i++];
      }
    }
    if (i < src.size()) out += src[i];
  }
  return out;
}

bool IdentChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// Decimal literals of a piece of code (numbers below 10 are no texts: conditions, indexes).
void Numbers(const std::string& code, std::set<unsigned>& ids) {
  for (size_t i = 0; i < code.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(code[i])) || (i && IdentChar(code[i - 1]))) continue;
    size_t j = i;
    while (j < code.size() && IdentChar(code[j])) ++j;
    std::string word = code.substr(i, j - i);
    i = j;
    if (word.find_first_not_of("0123456789") != std::string::npos) continue;  // hexadecimal, suffixes
    unsigned long n = std::stoul(word);
    if (n >= 10 && n <= 0xFFFF) ids.insert(static_cast<unsigned>(n));
  }
}

// The top-level arguments of the call whose '(' is at `open`.
std::vector<std::string> Arguments(const std::string& code, size_t open) {
  std::vector<std::string> args(1);
  int depth = 0;
  for (size_t i = open + 1; i < code.size(); ++i) {
    char c = code[i];
    if (c == '(' || c == '{' || c == '[') ++depth;
    if (c == ')' || c == '}' || c == ']') {
      if (depth-- == 0) return args;
    }
    if (c == ',' && depth == 0)
      args.emplace_back();
    else
      args.back() += c;
  }
  return {};
}

void Scan(const std::string& code, std::set<unsigned>& ids) {
  // Calls that take a text number.
  for (size_t i = 0; i < code.size(); ++i) {
    if (!IdentChar(code[i]) || (i && IdentChar(code[i - 1]))) continue;
    size_t j = i;
    while (j < code.size() && IdentChar(code[j])) ++j;
    auto call = kCalls.find(code.substr(i, j - i));
    size_t k = j;
    while (k < code.size() && code[k] == ' ') ++k;
    if (call != kCalls.end() && k < code.size() && code[k] == '(') {
      std::vector<std::string> args = Arguments(code, k);
      // A one-argument form (LoadText(id)) names its text first.
      if (args.size() == 1) Numbers(args[0], ids);
      for (size_t p : call->second)
        if (p < args.size() && args.size() > 1) Numbers(args[p], ids);
    }
    i = j - 1;
  }
  // Named text numbers: k...Text / k...Msg / k...Caption constants and k...Text[] tables; sizes
  // ("...Max", "...Size") are not texts.
  for (size_t i = 0; i + 1 < code.size(); ++i) {
    if (code[i] != 'k' || (i && IdentChar(code[i - 1])) || !std::isupper(static_cast<unsigned char>(code[i + 1])))
      continue;
    size_t j = i;
    while (j < code.size() && IdentChar(code[j])) ++j;
    std::string name = code.substr(i, j - i);
    i = j - 1;
    bool text = name.find("Text") != std::string::npos || name.find("Msg") != std::string::npos ||
                name.find("Caption") != std::string::npos;
    bool size = name.ends_with("Max") || name.ends_with("Size") || name.starts_with("kMax");
    if (!text || size) continue;
    size_t k = j;
    while (k < code.size() && code[k] == ' ') ++k;
    if (code.compare(k, 2, "[]") == 0) {
      size_t open = code.find('{', k), close = code.find('}', k);
      if (open != std::string::npos && close != std::string::npos && code.find(';', k) > open)
        Numbers(code.substr(open, close - open), ids);
    } else if (k < code.size() && code[k] == '=' && code[k + 1] != '=') {
      size_t end = code.find_first_of(",;}", k);
      Numbers(code.substr(k + 1, end - k - 1), ids);
    }
  }
  // Replies of the server's own facility: the low word of 0x8004xxxx without a family is its text;
  // the mail system's own codes (0x800401xx) carry none.
  for (size_t at = code.find("0x8004"); at != std::string::npos; at = code.find("0x8004", at + 1)) {
    std::string low = code.substr(at + 6, 4);
    if (low.size() < 4 || !std::all_of(low.begin(), low.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; })) continue;
    if (at + 10 < code.size() && std::isxdigit(static_cast<unsigned char>(code[at + 10]))) continue;
    unsigned n = static_cast<unsigned>(std::stoul(low, nullptr, 16));
    if (n >= 10 && n < 0x2000 && (n < 0x100 || n > 0x1FF)) ids.insert(n);
  }
}

std::set<unsigned> TextsTheCodeNames(const fs::path& source) {
  std::set<unsigned> ids;
  for (const char* tree : {"engine", "server", "service", "messenger", "webservice", "manager", "tools"}) {
    if (!fs::exists(source / tree)) continue;
    for (const auto& entry : fs::recursive_directory_iterator(source / tree)) {
      std::string ext = entry.path().extension();
      if (ext == ".cpp" || ext == ".h") Scan(WithoutComments(vtxtest::ReadFile(entry.path())), ids);
    }
  }
  return ids;
}

TEST(CatalogueIds, TheScanFindsEachWayOfNamingAText) {
  std::set<unsigned> ids;
  Scan(WithoutComments("constexpr UINT kTextStale = 193, kTextAge = 194; constexpr int kTextMax = 4000;\n"
                       "enum { kMsgBadLine = 82, kIdComment = 10 };\n"
                       "static const UINT kFamilyText[] = {0, 445, 446};\n"
                       "Say(flag == 0 ? 318 : 319, kCaptionError, 12);  // Say(999)\n"
                       "s.notifications->NotifyError(*s.settings, mode, hwnd, 83, 81, lib, hr);\n"
                       "LoadText(s, 382, 500); LoadText(526);\n"
                       "constexpr HRESULT kBusy = 0x80040204, kFilter = 0x80042001, kMapi = 0x8004010F;\n"),
       ids);
  EXPECT_EQ(ids, (std::set<unsigned>{81, 82, 83, 193, 194, 318, 319, 382, 445, 446, 516, 526}));
}

TEST(CatalogueIds, TheEnglishCatalogueHoldsEveryTextTheCodeNames) {
  std::set<unsigned> ids = TextsTheCodeNames(vtxtest::SourceDir());
  // The scan sees the code: a few texts every program names.
  for (unsigned id : {32u, 83u, 109u, 178u, 413u, 512u, 526u}) EXPECT_TRUE(ids.count(id)) << id;
  HMODULE m = LoadLibraryA(vtxtest::SourcePath("resources/0409/vantrex.cat").c_str());
  ASSERT_NE(m, nullptr) << vtx::LastCatalogueError();
  char buf[4000];
  for (unsigned id : ids) EXPECT_GT(LoadStringA(m, id, buf, sizeof buf), 0) << "text " << id << " is missing";
  FreeLibrary(m);
}

}  // namespace

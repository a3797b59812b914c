#include "filters/framework/htmltext.h"

#include "platform/codepage.h"

// By code point. The order matters where one name begins another and a digit may follow it:
// sup1, sup2 and sup3 must come before sup, which would otherwise be taken at once.
const HtmlEntity g_HtmlEntities[kHtmlEntityCount] = {
    {"quot", 34}, {"amp", 38}, {"lt", 60}, {"gt", 62},
    {"nbsp", 160}, {"iexcl", 161}, {"cent", 162}, {"pound", 163}, {"curren", 164}, {"yen", 165},
    {"brvbar", 166}, {"sect", 167}, {"uml", 168}, {"copy", 169}, {"ordf", 170}, {"laquo", 171},
    {"not", 172}, {"shy", 173}, {"reg", 174}, {"macr", 175}, {"deg", 176}, {"plusmn", 177},
    {"sup2", 178}, {"sup3", 179}, {"acute", 180}, {"micro", 181}, {"para", 182}, {"middot", 183},
    {"cedil", 184}, {"sup1", 185}, {"ordm", 186}, {"raquo", 187}, {"frac14", 188}, {"frac12", 189},
    {"frac34", 190}, {"iquest", 191}, {"Agrave", 192}, {"Aacute", 193}, {"Acirc", 194}, {"Atilde", 195},
    {"Auml", 196}, {"Aring", 197}, {"AElig", 198}, {"Ccedil", 199}, {"Egrave", 200}, {"Eacute", 201},
    {"Ecirc", 202}, {"Euml", 203}, {"Igrave", 204}, {"Iacute", 205}, {"Icirc", 206}, {"Iuml", 207},
    {"ETH", 208}, {"Ntilde", 209}, {"Ograve", 210}, {"Oacute", 211}, {"Ocirc", 212}, {"Otilde", 213},
    {"Ouml", 214}, {"times", 215}, {"Oslash", 216}, {"Ugrave", 217}, {"Uacute", 218}, {"Ucirc", 219},
    {"Uuml", 220}, {"Yacute", 221}, {"THORN", 222}, {"szlig", 223}, {"agrave", 224}, {"aacute", 225},
    {"acirc", 226}, {"atilde", 227}, {"auml", 228}, {"aring", 229}, {"aelig", 230}, {"ccedil", 231},
    {"egrave", 232}, {"eacute", 233}, {"ecirc", 234}, {"euml", 235}, {"igrave", 236}, {"iacute", 237},
    {"icirc", 238}, {"iuml", 239}, {"eth", 240}, {"ntilde", 241}, {"ograve", 242}, {"oacute", 243},
    {"ocirc", 244}, {"otilde", 245}, {"ouml", 246}, {"divide", 247}, {"oslash", 248}, {"ugrave", 249},
    {"uacute", 250}, {"ucirc", 251}, {"uuml", 252}, {"yacute", 253}, {"thorn", 254}, {"yuml", 255},
    {"OElig", 338}, {"oelig", 339}, {"Scaron", 352}, {"scaron", 353}, {"Yuml", 376}, {"fnof", 402},
    {"circ", 710}, {"tilde", 732},
    {"Alpha", 913}, {"Beta", 914}, {"Gamma", 915}, {"Delta", 916}, {"Epsilon", 917}, {"Zeta", 918},
    {"Eta", 919}, {"Theta", 920}, {"Iota", 921}, {"Kappa", 922}, {"Lambda", 923}, {"Mu", 924},
    {"Nu", 925}, {"Xi", 926}, {"Omicron", 927}, {"Pi", 928}, {"Rho", 929}, {"Sigma", 931},
    {"Tau", 932}, {"Upsilon", 933}, {"Phi", 934}, {"Chi", 935}, {"Psi", 936}, {"Omega", 937},
    {"alpha", 945}, {"beta", 946}, {"gamma", 947}, {"delta", 948}, {"epsilon", 949}, {"zeta", 950},
    {"eta", 951}, {"theta", 952}, {"iota", 953}, {"kappa", 954}, {"lambda", 955}, {"mu", 956},
    {"nu", 957}, {"xi", 958}, {"omicron", 959}, {"pi", 960}, {"rho", 961}, {"sigmaf", 962},
    {"sigma", 963}, {"tau", 964}, {"upsilon", 965}, {"phi", 966}, {"chi", 967}, {"psi", 968},
    {"omega", 969}, {"thetasym", 977}, {"upsih", 978}, {"piv", 982},
    {"ensp", 8194}, {"emsp", 8195}, {"thinsp", 8201}, {"zwnj", 8204}, {"zwj", 8205}, {"lrm", 8206},
    {"rlm", 8207}, {"ndash", 8211}, {"mdash", 8212}, {"lsquo", 8216}, {"rsquo", 8217}, {"sbquo", 8218},
    {"ldquo", 8220}, {"rdquo", 8221}, {"bdquo", 8222}, {"dagger", 8224}, {"Dagger", 8225}, {"bull", 8226},
    {"hellip", 8230}, {"permil", 8240}, {"prime", 8242}, {"Prime", 8243}, {"lsaquo", 8249}, {"rsaquo", 8250},
    {"oline", 8254}, {"frasl", 8260}, {"euro", 8364}, {"image", 8465}, {"weierp", 8472}, {"real", 8476},
    {"trade", 8482}, {"alefsym", 8501},
    {"larr", 8592}, {"uarr", 8593}, {"rarr", 8594}, {"darr", 8595}, {"harr", 8596}, {"crarr", 8629},
    {"lArr", 8656}, {"uArr", 8657}, {"rArr", 8658}, {"dArr", 8659}, {"hArr", 8660},
    {"forall", 8704}, {"part", 8706}, {"exist", 8707}, {"empty", 8709}, {"nabla", 8711}, {"isin", 8712},
    {"notin", 8713}, {"ni", 8715}, {"prod", 8719}, {"sum", 8721}, {"minus", 8722}, {"lowast", 8727},
    {"radic", 8730}, {"prop", 8733}, {"infin", 8734}, {"ang", 8736}, {"and", 8743}, {"or", 8744},
    {"cap", 8745}, {"cup", 8746}, {"int", 8747}, {"there4", 8756}, {"sim", 8764}, {"cong", 8773},
    {"asymp", 8776}, {"ne", 8800}, {"equiv", 8801}, {"le", 8804}, {"ge", 8805}, {"sub", 8834},
    {"sup", 8835}, {"nsub", 8836}, {"sube", 8838}, {"supe", 8839}, {"oplus", 8853}, {"otimes", 8855},
    {"perp", 8869}, {"sdot", 8901},
    {"lceil", 8968}, {"rceil", 8969}, {"lfloor", 8970}, {"rfloor", 8971}, {"lang", 9001}, {"rang", 9002},
    {"loz", 9674}, {"spades", 9824}, {"clubs", 9827}, {"hearts", 9829}, {"diams", 9830},
};

namespace {

bool IsAsciiLetter(char16_t c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

int HexValue(char16_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Digits only: no blanks, no sign, no second "0x". Saturates like the 32-bit unsigned conversion.
uint32_t ReadDigits(const char16_t* p, uint32_t radix, uint32_t* value) {
  uint64_t v = 0;
  uint32_t n = 0;
  for (;; ++n) {
    int d = HexValue(p[n]);
    if (d < 0 || static_cast<uint32_t>(d) >= radix) break;
    v = v * radix + static_cast<uint32_t>(d);
    if (v > 0xFFFFFFFFull) v = 0x100000000ull;
  }
  *value = v > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(v);
  return n;
}

}  // namespace

uint32_t DecodeEntity(const char16_t* text, char16_t* codePoint) {
  if (!text || !codePoint) return 0;
  if (text[0] == '#') {
    bool hex = text[1] == 'x' || text[1] == 'X';
    uint32_t prefix = hex ? 2 : 1;
    uint32_t value = 0;
    uint32_t digits = ReadDigits(text + prefix, hex ? 16 : 10, &value);
    if (!digits) return 0;
    // Code point 0 would cut the text short, and a number beyond 16 bits would come out as
    // some other character: neither is an entity.
    if (value == 0 || value > 0xFFFF) return 0;
    char16_t cp = static_cast<char16_t>(value);
    uint32_t count = prefix + digits;
    if (text[count] == ';') ++count;
    *codePoint = cp;
    return count;
  }

  // Every name begins with a letter; a lone '&' is common in text.
  if (!IsAsciiLetter(text[0])) return 0;
  const HtmlEntity* best = nullptr;
  uint32_t bestLength = 0;
  for (const HtmlEntity& e : g_HtmlEntities) {
    uint32_t i = 0;
    while (e.name[i] && text[i] == static_cast<char16_t>(e.name[i])) ++i;
    if (e.name[i]) continue;
    if (!IsAsciiLetter(text[i])) {
      best = &e;
      bestLength = i;
      break;
    }
    if (i > bestLength) {
      best = &e;
      bestLength = i;
    }
  }
  if (!best) return 0;
  *codePoint = best->codePoint;
  return bestLength + (text[bestLength] == ';' ? 1 : 0);
}

uint32_t DecodeEntityAnsi(const char* text, char* byte) {
  if (!text || !byte) return 0;
  // Entities are ASCII, which every code page here shares: only the ASCII text after the '&'
  // can decide one, so it is widened as it is. This keeps a page full of '&' from costing a
  // code-page conversion at each, and a stray byte further on from hiding the entity.
  constexpr int kMaxBytes = 79;
  char16_t wide[kMaxBytes + 1];
  int n = 0;
  while (n < kMaxBytes && text[n] && static_cast<unsigned char>(text[n]) < 0x80) {
    wide[n] = static_cast<char16_t>(text[n]);
    ++n;
  }
  wide[n] = 0;
  char16_t cp = 0;
  uint32_t count = DecodeEntity(wide, &cp);
  if (!count) return 0;
  if (cp < 0x80) {
    *byte = static_cast<char>(cp);
    return count;
  }
  char out[8];
  BOOL usedDefault = FALSE;
  int bytes = WideCharToMultiByte(CP_ACP, 0, &cp, 1, out, sizeof out, nullptr, &usedDefault);
  *byte = (bytes == 1 && !usedDefault) ? out[0] : '?';
  return count;
}

void StripHtml(char* text) {
  if (!text) return;
  char* w = text;
  for (const char* r = text; *r;) {
    if (*r == '<') {
      while (*r && *r != '>') ++r;
      if (*r) ++r;
    } else {
      *w++ = *r++;
    }
  }
  *w = 0;

  w = text;
  for (const char* r = text; *r;) {
    char b;
    uint32_t n;
    if (*r == '&' && (n = DecodeEntityAnsi(r + 1, &b)) != 0) {
      *w++ = b;
      r += 1 + n;
    } else {
      *w++ = *r++;
    }
  }
  *w = 0;
}

bool IsHtmlText(const char* text) {
  if (!text) return false;
  while (*text == ' ' || *text == '\t' || *text == '\r' || *text == '\n') ++text;
  return *text == '<';
}

// The currency-definitions update run: fetches the maker's update text and the pages its "Next"
// names, merges it into the stored update data, tells the user what changed and stores the result.
#pragma once
#include <string>
#include <vector>

#include "engine/update/updatethread.h"

class CUpdateEngine;

// Where the maker publishes the update text, as built.
extern const char g_szDefinitionsAddress[];
// The address a run starts at: $VANTREX_DEFINITIONS_URL (for tests and the demo), else the built one.
const char* DefinitionsAddress();

// String numbers of the run's notices.
enum : UINT {
  kMsgNewCurrencies = 428,
  kMsgRemovedCurrencies = 429,
  kMsgNowEuroLegalTender = 210,
  kMsgNowEuroNotLegalTender = 211,
  kMsgLeftEuroArea = 212,
};

// One run on thread.GetSettings() (a CUpdateSettings), starting at `address`. `unknownCodes`: the
// codes, separated by ";", that the rates named and nobody knows, or null. On success the merged
// update data are stored; success or failure is stamped as EMULoadSuccess or EMULoadFailure.
HRESULT RunDefinitionsCheck(CUpdateEngine& engine, CUpdateThread& thread, const char* address,
                            const char* unknownCodes);

namespace vtx::update {
// The address with the codes as the query "unknown" (percent-encoded), after "?" or, when the
// address has a query already, "&"; unchanged when it carries an "unknown" parameter already.
std::string WithUnknownQuery(const std::string& address, const char* unknownCodes);
// The codes of a text: every run of ASCII letters and digits, cut to three characters; those that
// `excluded` (read the same way, ignoring case) holds are left out, and so are repeats.
std::vector<std::string> CodesOf(const char* text, const char* excluded);
}  // namespace vtx::update

// The operations on the rates data as a whole: their texts and times, the present time, the version.
#include "engine/foundation/timetext.h"
#include "platform/systime.h"
#include "webservice/web/operations.h"

namespace Hulvane::Web::Services {

namespace {

// Runs `work` on the call's settings after the frame's first steps.
template <class F>
auto WithSettings(const ManagedString& clientKey, F work) {
  CVantrexSession session;
  Validate(session, clientKey);
  return work(session.GetSettings());
}

ManagedString Text(const char* text) { return text ? FromAnsi(text) : std::u16string(); }

FILETIME Now() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return now;
}

}  // namespace

ManagedString Vantrex::CurrentTimeLocal(const ManagedString& clientKey) {
  return WithSettings(clientKey, [](CSettings&) { return FormatTime(Now(), true); });
}

ManagedString Vantrex::CurrentTimeUT(const ManagedString& clientKey) {
  return WithSettings(clientKey, [](CSettings&) { return FormatTime(Now(), false); });
}

ManagedString Vantrex::InformationCopyright(const ManagedString& clientKey) {
  return WithSettings(clientKey, [](CSettings& s) { return Text(s.GetCopyright()); });
}

ManagedString Vantrex::InformationMessage(const ManagedString& clientKey) {
  return WithSettings(clientKey, [](CSettings& s) { return Text(s.GetMessageA()); });
}

ManagedString Vantrex::InformationSource(const ManagedString& clientKey) {
  return WithSettings(clientKey, [](CSettings& s) { return Text(s.GetSource()); });
}

ManagedString Vantrex::InformationCreationTimeLocal(const ManagedString& clientKey) {
  return WithSettings(clientKey, [](CSettings& s) { return FormatTime(s.GetCreated(), true); });
}

ManagedString Vantrex::InformationCreationTimeUT(const ManagedString& clientKey) {
  return WithSettings(clientKey, [](CSettings& s) { return FormatTime(s.GetCreated(), false); });
}

ManagedString Vantrex::InformationExpirationTimeLocal(const ManagedString& clientKey) {
  return WithSettings(clientKey, [](CSettings& s) { return FormatTime(s.GetExpires(), true); });
}

ManagedString Vantrex::InformationExpirationTimeUT(const ManagedString& clientKey) {
  return WithSettings(clientKey, [](CSettings& s) { return FormatTime(s.GetExpires(), false); });
}

ManagedString Vantrex::LastChangeTimeLocal(const ManagedString& clientKey) {
  return WithSettings(clientKey, [](CSettings& s) { return FormatTime(s.GetLastChange(), true); });
}

ManagedString Vantrex::LastChangeTimeUT(const ManagedString& clientKey) {
  return WithSettings(clientKey, [](CSettings& s) { return FormatTime(s.GetLastChange(), false); });
}

int32_t Vantrex::SecondsSinceLastChange(const ManagedString& clientKey) {
  return WithSettings(clientKey, [](CSettings& s) { return SecondsSinceClamped(s.GetLastChange()); });
}

ManagedString Vantrex::Version(const ManagedString& clientKey) {
  return WithSettings(clientKey, [](CSettings&) { return FromAnsi("4.0"); });
}

}  // namespace Hulvane::Web::Services

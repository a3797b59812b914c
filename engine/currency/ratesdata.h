// The rates file: the one INI form in which rates travel through the system, and its key table.
#pragma once
#include <cstdint>

#include "engine/foundation/inidata.h"

// Ids of g_IniTable; synonyms share one.
enum IniId : uint32_t {
  IniGeneral = 0,
  IniApplication = 1,
  IniSource = 2,
  IniCopyright = 3,
  IniMessage = 4,
  IniWarning = 5,
  IniError = 6,
  IniDate = 7,
  IniExpires = 8,
  IniNext = 9,
  IniEUR = 10,
  IniEURReplaced = 11,
  IniSmallest = 12,
  IniNames = 13,
  IniPrivate = 14,
  IniLastLoaded = 15,
  IniDateNoTime = 16,
  IniPrivateLastChange = 17,
  IniPrivateWarning = 18,
  IniReplaced = 19,
  IniPrivateServers = 20,
};
constexpr uint32_t kIniTableCount = 24;
extern const IniTableEntry<char> g_IniTable[kIniTableCount];

// The texts of "Application" that mark a file as this system's own.
extern const char g_szOwnApplication[];      // "Hulvane(R) Vantrex(TM)"
extern const char g_szOwnApplicationSign[];  // the same with the registered and trade mark signs

namespace vtx::rates {
// The sections of the rates file beyond the rates themselves.
inline constexpr char kGeneral[] = "General";
inline constexpr char kPrivate[] = "Private-HulvaneVantrex";
inline constexpr char kPrivateLastChange[] = "Private-HulvaneVantrex_LastChange";
inline constexpr char kPrivateWarning[] = "Private-HulvaneVantrex_Warning";
inline constexpr char kPrivateServers[] = "Private-HulvaneVantrex_Servers";

// A decimal number and nothing else: blanks, an optional sign, digits with an optional '.' and
// fraction (at least one digit in all), blanks. `decimals` gets the number of digits after the
// '.'. False for any other text and for a value that is not finite.
bool ParseDecimal(const char* text, double* value, uint32_t* decimals);
}  // namespace vtx::rates

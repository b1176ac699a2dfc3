// Who a printer says it is: its IEEE 1284 Device ID, and the text a device
// reports made safe to show. Both come from hardware and may hold anything.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zorv {

struct DeviceIdentity {
  std::string make;
  std::string model;
  std::string serial;
};

// The make (MFG or MANUFACTURER), model (MDL or MODEL) and serial (SN, SERN
// or SERIALNUMBER) of a Device ID such as "MFG:Zorv;MDL:ZPR4410;SN:0042;".
// Keys are compared without regard to case, values lose surrounding spaces,
// the first value of a key wins; a missing key leaves its field empty.
DeviceIdentity parseDeviceId(std::string_view id);

// Text that is safe on a terminal and in a tab-separated record, as
// Escaping::HardwareText has it: tab, newline and backslash as \t, \n and
// \\ (as --tsv writes them), every other control character and every
// byte that is not part of valid UTF-8 as \xNN.
std::string escapeText(std::string_view text);

// How much of a hardware field is shown.
constexpr std::size_t kMaxShownBytes = 128;

// escapeText of at most maxBytes of text, cut at a character boundary and
// marked with "..." when it was longer.
std::string shownText(std::string_view text, std::size_t maxBytes = kMaxShownBytes);

enum class ModelVerdict { Matches, Differs, Unknown };

// Whether a device's model is the one named by a CUPS make and model such as
// "Zorv ZPR4410, driver 1.0": the model's words, in order, among the make
// and model's words (letters and digits, without regard to case). Unknown
// when either side has nothing to compare.
ModelVerdict compareModel(std::string_view deviceModel, std::string_view makeAndModel);

}  // namespace zorv

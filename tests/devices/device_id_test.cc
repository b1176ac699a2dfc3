#include "devices/device_id.h"

#include <string>

#include <gtest/gtest.h>

namespace zorv {
namespace {

TEST(DeviceId, KeysAndValues) {
  struct Case {
    std::string id, make, model, serial;
  };
  const Case cases[] = {
      {"MFG:Zorv;MDL:ZPR4410;SN:0042;", "Zorv", "ZPR4410", "0042"},
      {"MANUFACTURER:Hewlett-Packard;MODEL:LaserJet 1020;SERIALNUMBER:X1;", "Hewlett-Packard", "LaserJet 1020", "X1"},
      {"mfg: Zorv ;Mdl:\tZPR \r\n;SERN:7", "Zorv", "ZPR", "7"},  // any case, spaces trimmed, no final ';'
      {"MFG:A;MFG:B;MDL;CMD:PCL,PJL;MODEL:X:Y", "A", "X:Y", ""},  // the first wins; no colon, no value
      {"", "", "", ""},
      {";;:;SN:", "", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    const DeviceIdentity identity = parseDeviceId(c.id);
    EXPECT_EQ(identity.make, c.make);
    EXPECT_EQ(identity.model, c.model);
    EXPECT_EQ(identity.serial, c.serial);
  }
}

TEST(DeviceId, HardwareTextIsShownEscapedAndCutWithAMark) {
  struct Case {
    std::string text, shown;
    std::size_t max = kMaxShownBytes;
  };
  const Case cases[] = {
      {"ZPR 4410-x", "ZPR 4410-x"},
      {"\t\n\\", "\\t\\n\\\\"},
      {"\x1b[2J\x7f\r", "\\x1b[2J\\x7f\\x0d"},
      {"caf\xc3\xa9 \xf0\x9f\x96\xa8", "caf\xc3\xa9 \xf0\x9f\x96\xa8"},                // UTF-8 kept
      {"\xc3 \xc2\x9b \xc0\xaf \xed\xa0\x80", "\\xc3 \\xc2\\x9b \\xc0\\xaf \\xed\\xa0\\x80"},  // lone, C1, overlong, surrogate
      {"\xf4\x90\x80\x80", "\\xf4\\x90\\x80\\x80"},                                     // past U+10FFFF
      {std::string(128, 'a'), std::string(128, 'a')},
      {std::string(129, 'a'), std::string(128, 'a') + "..."},
      {std::string(127, 'a') + "\xc3\xa9", std::string(127, 'a') + "..."},  // never half a character
      {"ab\xff\xff", "ab\\xff...", 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(shownText(c.text, c.max), c.shown);
  }
}

TEST(DeviceId, ModelAgainstCupsMakeAndModel) {
  struct Case {
    std::string model, makeAndModel;
    ModelVerdict verdict;
  };
  const Case cases[] = {
      {"ZPR4410", "Zorv ZPR4410, 1.0", ModelVerdict::Matches},
      {"LaserJet 1020", "HP laserjet-1020 Foomatic/foo2zjs", ModelVerdict::Matches},
      {"ZPR44", "Zorv ZPR4410", ModelVerdict::Differs},
      {"ZPR2200", "Zorv ZPR4410", ModelVerdict::Differs},
      {"", "Zorv ZPR4410", ModelVerdict::Unknown},
      {"ZPR4410", "", ModelVerdict::Unknown},
      {"ZPR4410", "Local Raw Printer", ModelVerdict::Unknown},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.model + " / " + c.makeAndModel);
    EXPECT_EQ(compareModel(c.model, c.makeAndModel), c.verdict);
  }
}

}  // namespace
}  // namespace zorv

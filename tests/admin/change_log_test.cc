// The audit line's two judgements, in process: how a value is quoted, and
// who the person behind a run is.
#include "admin/change_log.h"

#include <gtest/gtest.h>

#include <string>

namespace zorv {
namespace {

TEST(AuditQuoted, NoValueCanSplitOrForgeALine) {
  const struct {
    std::string value;
    std::string logged;
  } cases[] = {
      {"/dev/usb/lp0", "/dev/usb/lp0"},
      {"Q_1-a.b+c:d@e%f,g=h~i^j", "Q_1-a.b+c:d@e%f,g=h~i^j"},
      {"Drucker\xc3\xa9", "Drucker\xc3\xa9"},
      {"", "''"},
      {"/dev/usb/lp2 x", "'/dev/usb/lp2 x'"},
      {"(none)", "'(none)'"},
      {"it's", "'it\\'s'"},
      {"a\\b", "'a\\\\b'"},
      {"Q1\nzorvadmin[1]: forged", "'Q1\\x0azorvadmin[1]: forged'"},
      {"\t\r\x7f", "'\\x09\\x0d\\x7f'"},
      {"\"q\"", "'\"q\"'"},
  };
  for (const auto& c : cases) EXPECT_EQ(auditQuoted(c.value), c.logged) << c.value;
}

CallerFacts root(bool loginSet, uid_t login, std::string sudoUser, std::string sudoUid) {
  CallerFacts facts;
  facts.realName = "root";
  facts.loginSet = loginSet;
  facts.loginUid = login;
  facts.loginName = login == 1000 ? "alice" : "";
  facts.sudoUser = std::move(sudoUser);
  facts.sudoUid = std::move(sudoUid);
  facts.sudoUserKnown = facts.sudoUser == "alice" || facts.sudoUser == "root";
  facts.sudoUserUid = facts.sudoUser == "alice" ? 1000 : 0;
  return facts;
}

TEST(DescribeCaller, BelievesSudoOnlyWhenEverythingAgrees) {
  CallerFacts setUserId = root(true, 1000, "alice", "1000");
  setUserId.setUserId = true;
  setUserId.realUid = 1000;
  setUserId.realName = "alice";
  CallerFacts nameless = root(false, 0, "", "");
  nameless.realName = "";
  nameless.realUid = 4242;
  const struct {
    const char* what;
    CallerFacts facts;
    std::string person;
  } cases[] = {
      {"sudo from alice's session", root(true, 1000, "alice", "1000"), "alice (uid 1000) via sudo"},
      {"no login uid", root(false, 0, "alice", "1000"), "root (uid 0)"},
      {"SUDO_UID disagrees", root(true, 1000, "alice", "1001"), "root (uid 0) logged in as alice (uid 1000)"},
      {"SUDO_USER of another session", root(true, 1000, "root", "0"), "root (uid 0) logged in as alice (uid 1000)"},
      {"unknown SUDO_USER", root(true, 1000, "mallory", "1000"), "root (uid 0) logged in as alice (uid 1000)"},
      {"su from alice's session", root(true, 1000, "", ""), "root (uid 0) logged in as alice (uid 1000)"},
      {"root's own session", root(true, 0, "", ""), "root (uid 0)"},
      {"set-user-ID", setUserId, "alice (uid 1000)"},
      {"no name for the uid", nameless, "uid 4242"},
      {"a login uid without a name", root(true, 77, "", ""), "root (uid 0) logged in as uid 77"},
  };
  for (const auto& c : cases) EXPECT_EQ(describeCaller(c.facts), c.person) << c.what;
}

}  // namespace
}  // namespace zorv

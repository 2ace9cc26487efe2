#include <gtest/gtest.h>

#include <regex>
#include <set>

#include "service/store/accounts.h"
#include "service/web/html.h"

namespace torvo::service {
namespace {

TEST(Accounts, PasswordHashesAreArgon2idAndSalted) {
  std::string a = HashPassword("correct horse");
  std::string b = HashPassword("correct horse");
  EXPECT_TRUE(a.starts_with("$argon2id$")) << a;
  EXPECT_NE(a, b);
  EXPECT_TRUE(VerifyPassword(a, "correct horse"));
  EXPECT_TRUE(VerifyPassword(b, "correct horse"));
  EXPECT_FALSE(VerifyPassword(a, "correct horsf"));
  EXPECT_FALSE(VerifyPassword(a, ""));
  EXPECT_FALSE(VerifyPassword("", "correct horse"));
  EXPECT_FALSE(VerifyPassword("not a hash", "correct horse"));
}

TEST(Accounts, TokensAreUrlSafeAndDistinct) {
  std::set<std::string> seen;
  for (int i = 0; i < 200; ++i) {
    std::string token = RandomToken();
    EXPECT_TRUE(std::regex_match(token, std::regex("[A-Za-z0-9_-]{32}"))) << token;  // 192 bits
    seen.insert(token);
  }
  EXPECT_EQ(seen.size(), 200u);
  EXPECT_EQ(RandomToken(16).size(), 22u);  // 128 bits
  EXPECT_EQ(TokenHash("abc"), TokenHash("abc"));
  EXPECT_NE(TokenHash("abc"), TokenHash("abd"));
  EXPECT_EQ(TokenHash("abc").size(), 64u);
  EXPECT_TRUE(SameSecret("abc", "abc"));
  EXPECT_FALSE(SameSecret("abc", "abd"));
  EXPECT_FALSE(SameSecret("abc", "ab"));
}

TEST(Accounts, WrongPasswordsAreSlowedPerNameAndPerAddress) {
  std::time_t now = 1000;
  SignInThrottle throttle([&] { return now; });
  for (int i = 0; i < SignInThrottle::kFreeFailures; ++i) {
    EXPECT_EQ(throttle.WaitSeconds("alice", "10.0.0.1"), 0) << i;
    throttle.Failed("alice", "10.0.0.1");
  }
  EXPECT_EQ(throttle.WaitSeconds("alice", "10.0.0.1"), 4);
  EXPECT_EQ(throttle.WaitSeconds("alice", "10.0.0.2"), 4);  // the name, from anywhere
  EXPECT_EQ(throttle.WaitSeconds("bob", "10.0.0.1"), 4);    // the address, for any name
  EXPECT_EQ(throttle.WaitSeconds("bob", "10.0.0.2"), 0);
  now += 3;
  EXPECT_EQ(throttle.WaitSeconds("alice", "10.0.0.2"), 1);
  now += 1;
  EXPECT_EQ(throttle.WaitSeconds("alice", "10.0.0.2"), 0);
  // Each further failure doubles the wait, up to the longest.
  std::vector<int> waits;
  for (int i = 0; i < 12; ++i) {
    throttle.Failed("alice", "10.0.0.2");
    waits.push_back(throttle.WaitSeconds("alice", "10.0.0.3"));
  }
  EXPECT_EQ(waits, (std::vector<int>{8, 16, 32, 64, 128, 256, 512, 900, 900, 900, 900, 900}));
  throttle.Succeeded("alice", "10.0.0.2");
  EXPECT_EQ(throttle.WaitSeconds("alice", "10.0.0.3"), 0);
  throttle.Failed("carol", "10.0.0.1");  // another address's count stays: its fourth failure
  EXPECT_EQ(throttle.WaitSeconds("dave", "10.0.0.1"), 8);
}

TEST(Html, EscapesEverythingThatCouldMakeMarkup) {
  EXPECT_EQ(EscapeHtml("<img src=x onerror=alert(1)>"), "&lt;img src=x onerror=alert(1)&gt;");
  EXPECT_EQ(EscapeHtml("a\"b'c&d"), "a&quot;b&#39;c&amp;d");
  EXPECT_EQ(EscapeHtml("한글 plain"), "한글 plain");
}

TEST(Html, LanguageFollowsTheBrowsersPreference) {
  struct Case {
    const char* header;
    Language language;
  };
  const Case cases[] = {
      {"ko-KR,ko;q=0.9,en-US;q=0.8,en;q=0.7", Language::Korean},
      {"en-US,en;q=0.9,ko;q=0.8", Language::English},
      {"en;q=0.5, ko;q=0.6", Language::Korean},
      {"ko, en", Language::Korean},
      {"de-DE,de;q=0.9", Language::English},
      {"KO", Language::Korean},
      {"", Language::English},
      {"ko;q=0", Language::English},
  };
  for (const auto& c : cases) EXPECT_EQ(PreferredLanguage(c.header), c.language) << c.header;
  EXPECT_EQ(Words(Language::Korean, "Search"), "검색");
  EXPECT_EQ(Words(Language::English, "Search"), "Search");
}

}  // namespace
}  // namespace torvo::service

#pragma once
// What signing in to the web page needs: password hashes (Argon2id), random tokens for
// ToolbarIDs, session cookies and form tokens, and the slow-down of repeated wrong passwords.
#include <cstdint>
#include <ctime>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace torvo::service {

// Argon2id in libsodium's string form (algorithm, costs and salt included). Throws
// std::runtime_error when the machine has not the memory for it.
std::string HashPassword(std::string_view password);
bool VerifyPassword(std::string_view hash, std::string_view password);

// bytes random bytes as URL-safe base64 without padding (A-Z a-z 0-9 - _).
std::string RandomToken(size_t bytes = 24);
// What the database keeps of a session cookie: a hash, so a copy of the database opens no session.
std::string TokenHash(std::string_view token);
// Compares in time that does not depend on where the texts differ.
bool SameSecret(std::string_view a, std::string_view b);

// Failed sign-ins by key ("n:" and a user name, "a:" and a client address), kept where every
// service process sees them.
class SignInCounts {
 public:
  struct Count {
    int failures = 0;
    std::time_t last = 0;
  };
  virtual ~SignInCounts() = default;
  virtual Count Get(const std::string& key) = 0;
  virtual void AddFailure(const std::string& key, std::time_t now) = 0;
  virtual void Clear(const std::string& key) = 0;
};

// Counts failed sign-ins per user name and per client address. The first few failures cost
// nothing; after them an attempt waits 4 seconds since the last failure, then twice as long after
// each further failure (up to 15 minutes), and attempts in the wait are refused unchecked. A sign-in that succeeds
// clears both counts.
class SignInThrottle {
 public:
  using Clock = std::function<std::time_t()>;
  static constexpr int kFreeFailures = 3;
  static constexpr int kLongestWaitSeconds = 15 * 60;

  // shared: where the counts are kept; nullptr: in this object.
  explicit SignInThrottle(Clock clock = nullptr, SignInCounts* shared = nullptr);
  // Seconds until an attempt for this name from this address is taken; 0: now.
  int WaitSeconds(const std::string& name, const std::string& address);
  void Failed(const std::string& name, const std::string& address);
  void Succeeded(const std::string& name, const std::string& address);

 private:
  using Count = SignInCounts::Count;
  int Wait(const Count& count, std::time_t now) const;
  void Forget(std::time_t now);

  Clock clock_;
  SignInCounts* shared_;
  std::mutex mutex_;
  std::map<std::string, Count> counts_;  // "n:" name or "a:" address
};

}  // namespace torvo::service

#include "service/store/accounts.h"

#include <sodium.h>

#include <algorithm>
#include <stdexcept>

namespace torvo::service {

namespace {

void StartSodium() {
  static const bool started = sodium_init() >= 0;
  if (!started) throw std::runtime_error("libsodium cannot start");
}

// Argon2id at libsodium's interactive costs (64 MiB) makes a hash cost a tenth of a second.
// One at a time: a burst of sign-ins must not take a burst of memory.
std::mutex hashing;

}  // namespace

std::string HashPassword(std::string_view password) {
  StartSodium();
  char out[crypto_pwhash_STRBYTES];
  std::lock_guard lock(hashing);
  if (crypto_pwhash_str_alg(out, password.data(), password.size(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                            crypto_pwhash_MEMLIMIT_INTERACTIVE, crypto_pwhash_ALG_ARGON2ID13) != 0) {
    throw std::runtime_error("not enough memory to hash the password");
  }
  return out;
}

bool VerifyPassword(std::string_view hash, std::string_view password) {
  StartSodium();
  std::string terminated(hash);
  std::lock_guard lock(hashing);
  return !terminated.empty() && crypto_pwhash_str_verify(terminated.c_str(), password.data(), password.size()) == 0;
}

std::string RandomToken(size_t bytes) {
  StartSodium();
  std::string raw(bytes, '\0');
  randombytes_buf(raw.data(), raw.size());
  std::string out(sodium_base64_ENCODED_LEN(bytes, sodium_base64_VARIANT_URLSAFE_NO_PADDING), '\0');
  sodium_bin2base64(out.data(), out.size(), reinterpret_cast<const unsigned char*>(raw.data()), raw.size(),
                    sodium_base64_VARIANT_URLSAFE_NO_PADDING);
  out.resize(out.find('\0'));
  return out;
}

std::string TokenHash(std::string_view token) {
  StartSodium();
  unsigned char hash[32];
  crypto_generichash(hash, sizeof hash, reinterpret_cast<const unsigned char*>(token.data()), token.size(), nullptr, 0);
  char hex[sizeof hash * 2 + 1];
  sodium_bin2hex(hex, sizeof hex, hash, sizeof hash);
  return hex;
}

bool SameSecret(std::string_view a, std::string_view b) {
  return a.size() == b.size() && sodium_memcmp(a.data(), b.data(), a.size()) == 0;
}

SignInThrottle::SignInThrottle(Clock clock, SignInCounts* shared) : clock_(std::move(clock)), shared_(shared) {
  if (!clock_) clock_ = [] { return std::time(nullptr); };
}

int SignInThrottle::Wait(const Count& count, std::time_t now) const {
  if (count.failures < kFreeFailures) return 0;
  // Four seconds at first: the clock counts whole seconds, and a wait of one could end at once.
  int shift = std::min(count.failures - kFreeFailures + 2, 10);
  std::time_t wait = std::min<std::time_t>(std::time_t{1} << shift, kLongestWaitSeconds);
  std::time_t left = count.last + wait - now;
  return left > 0 ? static_cast<int>(left) : 0;
}

int SignInThrottle::WaitSeconds(const std::string& name, const std::string& address) {
  std::lock_guard lock(mutex_);
  std::time_t now = clock_();
  int wait = 0;
  for (const auto& key : {"n:" + name, "a:" + address}) {
    if (shared_) {
      wait = std::max(wait, Wait(shared_->Get(key), now));
      continue;
    }
    auto found = counts_.find(key);
    if (found != counts_.end()) wait = std::max(wait, Wait(found->second, now));
  }
  return wait;
}

void SignInThrottle::Failed(const std::string& name, const std::string& address) {
  std::lock_guard lock(mutex_);
  std::time_t now = clock_();
  Forget(now);
  for (const auto& key : {"n:" + name, "a:" + address}) {
    if (shared_) {
      shared_->AddFailure(key, now);
      continue;
    }
    Count& count = counts_[key];
    ++count.failures;
    count.last = now;
  }
}

void SignInThrottle::Succeeded(const std::string& name, const std::string& address) {
  std::lock_guard lock(mutex_);
  if (shared_) {
    shared_->Clear("n:" + name);
    shared_->Clear("a:" + address);
    return;
  }
  counts_.erase("n:" + name);
  counts_.erase("a:" + address);
}

// A day without failures forgets a name or an address, so the map does not grow without end.
void SignInThrottle::Forget(std::time_t now) {
  if (counts_.size() < 10000) return;
  std::erase_if(counts_, [now](const auto& entry) { return entry.second.last < now - 24 * 3600; });
}

}  // namespace torvo::service

#include "service/exchanges/faults.h"

#include <charconv>

#include "service/wire/url.h"

namespace torvo::service {

namespace {

struct KindName {
  FaultKind kind;
  std::string_view name;
};

constexpr KindName kKinds[] = {
    {FaultKind::Delay, "delay"},     {FaultKind::Status, "status"},         {FaultKind::Drop, "drop"},
    {FaultKind::Split, "split"},     {FaultKind::Huge, "huge"},             {FaultKind::SignedOut, "signedout"},
    {FaultKind::NotANumber, "notanumber"}, {FaultKind::Reply, "reply"},
};

constexpr std::string_view kExchanges[] = {"folders", "upload", "list", "download"};

std::string_view KindToName(FaultKind kind) {
  for (const auto& entry : kKinds) {
    if (entry.kind == kind) return entry.name;
  }
  return "?";
}

std::optional<int64_t> ParseNumber(std::string_view text, int64_t low, int64_t high) {
  int64_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  if (value < low || value > high) return std::nullopt;
  return value;
}

std::string Range(int64_t low, int64_t high) {
  return "a whole number from " + std::to_string(low) + " to " + std::to_string(high);
}

}  // namespace

std::string_view ExchangeName(Exchange exchange) { return kExchanges[static_cast<int>(exchange)]; }

std::optional<Exchange> ParseExchange(std::string_view name) {
  for (int i = 0; i < 4; ++i) {
    if (kExchanges[i] == name) return static_cast<Exchange>(i);
  }
  return std::nullopt;
}

FaultParse ParseFault(std::string_view text) {
  FaultParse result;
  auto fail = [&](std::string message) {
    result.error = "fault \"" + std::string(text) + "\": " + message;
    return result;
  };

  size_t colon = text.find(':');
  if (colon == std::string_view::npos) return fail("write it as EXCHANGE:KIND, for example download:drop");
  auto exchange = ParseExchange(text.substr(0, colon));
  if (!exchange) return fail("the exchange is one of folders, upload, list, download");

  Fault fault;
  fault.exchange = *exchange;
  std::string_view rest = text.substr(colon + 1);
  bool first = true;
  bool hasValue = false;
  while (first || !rest.empty()) {
    size_t comma = rest.find(',');
    std::string_view item = rest.substr(0, comma);
    rest = comma == std::string_view::npos ? std::string_view{} : rest.substr(comma + 1);
    size_t equals = item.find('=');
    std::string_view name = item.substr(0, equals);
    std::optional<std::string_view> value;
    if (equals != std::string_view::npos) value = item.substr(equals + 1);

    if (first) {
      first = false;
      bool known = false;
      for (const auto& entry : kKinds) {
        if (entry.name == name) {
          fault.kind = entry.kind;
          known = true;
        }
      }
      if (!known) return fail("the kind is one of delay, status, drop, split, huge, signedout, notanumber, reply");
      hasValue = value.has_value();
      std::string_view v = value.value_or("");
      switch (fault.kind) {
        case FaultKind::Delay: {
          auto ms = ParseNumber(v, 0, 600000);
          if (!ms) return fail("delay takes milliseconds, " + Range(0, 600000));
          fault.value = *ms;
          break;
        }
        case FaultKind::Status: {
          auto code = ParseNumber(v, 300, 599);
          if (!code) return fail("status takes an HTTP status, " + Range(300, 599));
          fault.value = *code;
          break;
        }
        case FaultKind::Drop: {
          fault.value = -1;
          if (hasValue) {
            auto bytes = ParseNumber(v, 0, int64_t{1} << 40);
            if (!bytes) return fail("drop takes the number of body bytes sent before the close");
            fault.value = *bytes;
          }
          break;
        }
        case FaultKind::Split: {
          auto pieces = ParseNumber(v, 2, 1000);
          if (!pieces) return fail("split takes the number of pieces, " + Range(2, 1000));
          fault.value = *pieces;
          break;
        }
        case FaultKind::Huge: {
          auto bytes = ParseNumber(v, 1, int64_t{1} << 30);
          if (!bytes) return fail("huge takes the reply's size in bytes, " + Range(1, int64_t{1} << 30));
          fault.value = *bytes;
          break;
        }
        case FaultKind::SignedOut:
        case FaultKind::NotANumber:
          if (hasValue) return fail(std::string(name) + " takes no value");
          if (fault.kind == FaultKind::NotANumber && fault.exchange != Exchange::Upload) {
            return fail("notanumber is an answer of the upload only");
          }
          break;
        case FaultKind::Reply:
          if (!hasValue) return fail("reply takes the body's text, percent-escaped");
          fault.reply = PercentDecode(v);
          break;
      }
      continue;
    }

    if (!value) return fail("the option \"" + std::string(name) + "\" needs a value");
    if (name == "pause") {
      auto ms = ParseNumber(*value, 0, 60000);
      if (!ms || fault.kind != FaultKind::Split) return fail("pause goes with split, " + Range(0, 60000) + " ms");
      fault.pauseMs = static_cast<int>(*ms);
    } else if (name == "times") {
      auto times = ParseNumber(*value, 1, 1000000);
      if (!times) return fail("times takes " + Range(1, 1000000));
      fault.times = static_cast<int>(*times);
    } else if (name == "match") {
      fault.match = PercentDecode(*value);
    } else {
      return fail("the options are pause, times and match");
    }
  }
  result.fault = std::move(fault);
  return result;
}

std::string FormatFault(const Fault& fault) {
  std::string text = std::string(ExchangeName(fault.exchange)) + ":" + std::string(KindToName(fault.kind));
  switch (fault.kind) {
    case FaultKind::Delay:
    case FaultKind::Status:
    case FaultKind::Split:
    case FaultKind::Huge: text.append("=").append(std::to_string(fault.value)); break;
    case FaultKind::Drop:
      if (fault.value >= 0) text.append("=").append(std::to_string(fault.value));
      break;
    case FaultKind::Reply: text.append("=").append(PercentEncodeSegment(fault.reply)); break;
    case FaultKind::SignedOut:
    case FaultKind::NotANumber: break;
  }
  if (fault.kind == FaultKind::Split) text.append(",pause=").append(std::to_string(fault.pauseMs));
  if (fault.times > 0) text.append(",times=").append(std::to_string(fault.times));
  if (!fault.match.empty()) text.append(",match=").append(PercentEncodeSegment(fault.match));
  return text;
}

void FaultBoard::Add(Fault fault) {
  std::lock_guard lock(mutex_);
  faults_.push_back(std::move(fault));
}

void FaultBoard::Clear(std::optional<Exchange> exchange) {
  std::lock_guard lock(mutex_);
  std::erase_if(faults_, [&](const Fault& fault) { return !exchange || fault.exchange == *exchange; });
}

std::vector<Fault> FaultBoard::List() const {
  std::lock_guard lock(mutex_);
  return faults_;
}

std::vector<Fault> FaultBoard::Take(Exchange exchange, std::string_view rawTarget) {
  std::lock_guard lock(mutex_);
  std::vector<Fault> taken;
  for (auto& fault : faults_) {
    if (fault.exchange != exchange) continue;
    if (!fault.match.empty() && rawTarget.find(fault.match) == std::string_view::npos) continue;
    taken.push_back(fault);
    if (fault.times > 0 && --fault.times == 0) fault.times = -1;  // used up
  }
  std::erase_if(faults_, [](const Fault& fault) { return fault.times < 0; });
  return taken;
}

}  // namespace torvo::service

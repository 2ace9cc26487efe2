#include <gtest/gtest.h>

#include "service/exchanges/faults.h"

namespace torvo::service {
namespace {

TEST(FaultSpec, ParsesAndFormatsBack) {
  struct Case {
    std::string text;
    Exchange exchange;
    FaultKind kind;
    int64_t value;
    std::string formatted;  // empty: the text itself
  };
  const Case cases[] = {
      {"folders:delay=1500", Exchange::Folders, FaultKind::Delay, 1500, ""},
      {"list:status=503", Exchange::List, FaultKind::Status, 503, ""},
      {"download:drop", Exchange::Download, FaultKind::Drop, -1, ""},
      {"download:drop=0,times=2", Exchange::Download, FaultKind::Drop, 0, ""},
      {"upload:split=3", Exchange::Upload, FaultKind::Split, 3, "upload:split=3,pause=200"},
      {"upload:split=4,pause=50,match=u%2C1", Exchange::Upload, FaultKind::Split, 4, ""},
      {"list:huge=1048576", Exchange::List, FaultKind::Huge, 1048576, ""},
      {"folders:signedout", Exchange::Folders, FaultKind::SignedOut, 0, ""},
      {"upload:notanumber,times=1", Exchange::Upload, FaultKind::NotANumber, 0, ""},
      {"list:reply=http%3A%2F%2Fx%7Ca", Exchange::List, FaultKind::Reply, 0, ""},
  };
  for (const auto& c : cases) {
    FaultParse parsed = ParseFault(c.text);
    ASSERT_TRUE(parsed.fault) << c.text << ": " << parsed.error;
    EXPECT_EQ(parsed.fault->exchange, c.exchange) << c.text;
    EXPECT_EQ(parsed.fault->kind, c.kind) << c.text;
    EXPECT_EQ(parsed.fault->value, c.value) << c.text;
    EXPECT_EQ(FormatFault(*parsed.fault), c.formatted.empty() ? c.text : c.formatted);
  }
  EXPECT_EQ(ParseFault("list:reply=http%3A%2F%2Fx%7Ca").fault->reply, "http://x|a");
  EXPECT_EQ(ParseFault("upload:split=4,pause=50,match=u%2C1").fault->match, "u,1");
}

TEST(FaultSpec, RefusesWithAReason) {
  struct Case {
    std::string text, reason;
  };
  const Case cases[] = {
      {"delay=5", "EXCHANGE:KIND"},
      {"sync:delay=5", "one of folders, upload, list, download"},
      {"list:slow", "the kind is one of"},
      {"list:delay", "milliseconds"},
      {"list:delay=-1", "milliseconds"},
      {"list:status=200", "HTTP status"},
      {"list:split=1", "pieces"},
      {"list:huge=0", "size in bytes"},
      {"list:signedout=1", "takes no value"},
      {"list:notanumber", "upload only"},
      {"list:reply", "body's text"},
      {"list:delay=5,pause=10", "pause goes with split"},
      {"list:delay=5,times=0", "times"},
      {"list:delay=5,times", "needs a value"},
      {"list:delay=5,colour=red", "the options are"},
  };
  for (const auto& c : cases) {
    FaultParse parsed = ParseFault(c.text);
    EXPECT_FALSE(parsed.fault) << c.text;
    EXPECT_NE(parsed.error.find(c.reason), std::string::npos) << c.text << ": " << parsed.error;
  }
}

TEST(FaultSpec, BoardCountsTimesAndMatches) {
  FaultBoard board;
  board.Add(*ParseFault("download:status=404,times=2,match=/b.png").fault);
  board.Add(*ParseFault("download:delay=10").fault);
  board.Add(*ParseFault("list:drop").fault);

  EXPECT_EQ(board.Take(Exchange::Download, "/img/u/a.png").size(), 1u);  // the delay only
  EXPECT_EQ(board.Take(Exchange::Download, "/img/u/b.png").size(), 2u);
  EXPECT_EQ(board.Take(Exchange::Download, "/img/u/b.png").size(), 2u);
  auto after = board.Take(Exchange::Download, "/img/u/b.png");  // used up
  ASSERT_EQ(after.size(), 1u);
  EXPECT_EQ(after[0].kind, FaultKind::Delay);
  EXPECT_EQ(board.List().size(), 2u);

  board.Clear(Exchange::Download);
  ASSERT_EQ(board.List().size(), 1u);
  EXPECT_EQ(board.List()[0].exchange, Exchange::List);
  board.Clear(std::nullopt);
  EXPECT_TRUE(board.List().empty());
}

}  // namespace
}  // namespace torvo::service

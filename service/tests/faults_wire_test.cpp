// Each fault as a client sees it on the socket.
#include "service_fixture.h"

namespace torvo::service::testing {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

class FaultsOnTheWire : public ServiceTest {
 protected:
  // Stores one image for u1 and returns its name.
  std::string Uploaded(const std::string& png) {
    Reply reply = Upload({}, png);
    EXPECT_TRUE(IsStoredName(reply.body)) << reply.raw;
    return reply.body.substr(0, 14);
  }
};

TEST_F(FaultsOnTheWire, SplitReplyArrivesInPiecesApart) {
  Start({"--fault", "list:split=3,pause=150"});
  RawClient client(port());
  Reply reply = client.Get("/imgList.php?tid=u1");
  ASSERT_TRUE(reply.complete);
  EXPECT_EQ(reply.body, Base() + "/img/u1");
  ASSERT_EQ(reply.pieces.size(), 3u);
  for (size_t i = 1; i < reply.pieces.size(); ++i) {
    EXPECT_GE(reply.pieces[i].at - reply.pieces[i - 1].at, milliseconds(100));
  }
  // The connection stays usable after a split reply.
  EXPECT_EQ(client.Get("/imgList.php?tid=u1").body, Base() + "/img/u1");
}

TEST_F(FaultsOnTheWire, DropClosesTheConnectionMidBody) {
  Start();
  const std::string png = MakePng(5000);
  std::string name = Uploaded(png);
  ASSERT_EQ(Admin("add=download:drop=100,times=1").status, 200);

  RawClient client(port());
  Reply cut = client.Get("/img/u1/" + name + ".png");
  EXPECT_FALSE(cut.complete);
  EXPECT_TRUE(cut.closed);
  EXPECT_EQ(cut.headers["content-length"], "5000");
  EXPECT_EQ(cut.body, png.substr(0, 100));

  ASSERT_EQ(Admin("add=download:drop").status, 200);  // half the body by default
  Reply half = Get("/img/u1/" + name + ".png");
  EXPECT_TRUE(half.closed);
  EXPECT_EQ(half.body, png.substr(0, 2500));
}

TEST_F(FaultsOnTheWire, DelayHoldsTheFirstByte) {
  Start({"--fault", "folders:delay=300"});
  RawClient client(port());
  auto sent = steady_clock::now();
  Reply reply = client.Get("/imgList.php?state=geturi&tid=u1");
  ASSERT_TRUE(reply.complete);
  EXPECT_GE(reply.pieces.front().at - sent, milliseconds(290));
  EXPECT_EQ(reply.pieces.size(), 1u);
  // Other exchanges are not delayed: their reply is there before the delay would end.
  sent = steady_clock::now();
  ASSERT_TRUE(client.Get("/imgList.php?tid=u1").complete);
  EXPECT_LT(steady_clock::now() - sent, milliseconds(290));
}

TEST_F(FaultsOnTheWire, ErrorStatusAndSignedOutInEveryExchange) {
  Start();
  std::string name = Uploaded(MakePng(3000));
  const std::string download = "/img/u1/" + name + ".png";
  struct Case {
    std::string fault;
    std::string target;  // empty: an upload
    int status;
    std::string body;
  };
  const Case cases[] = {
      {"folders:status=503", "/imgList.php?state=geturi&tid=u1", 503, "service error 503\n"},
      {"list:status=500", "/imgList.php?tid=u1", 500, "service error 500\n"},
      {"download:status=404", download, 404, "service error 404\n"},
      {"upload:status=502", "", 502, "service error 502\n"},
      {"folders:signedout", "/imgList.php?state=geturi&tid=u1", 200, "0"},
      {"list:signedout", "/imgList.php?tid=u1", 200, "0"},
      {"download:signedout", download, 403, "the user is signed out\n"},
      {"upload:signedout", "", 200, "idnotfind"},
      {"upload:notanumber", "", 200, "abcdefghijklmn.png"},
      {"list:reply=%7C%7C", "/imgList.php?tid=u1", 200, "||"},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(Admin("clear=all&add=" + c.fault).status, 200) << c.fault;
    Reply reply = c.target.empty() ? Upload({}, MakePng(3000)) : Get(c.target);
    EXPECT_EQ(reply.status, c.status) << c.fault;
    EXPECT_EQ(reply.body, c.body) << c.fault;
  }
  EXPECT_EQ(Images("u1").size(), 1u) << "an upload answered by a fault was stored";
}

TEST_F(FaultsOnTheWire, HugeRepliesKeepTheirExchangesForm) {
  Start({"--fault", "folders:huge=3000000", "--fault", "upload:huge=100000"});
  const std::string folders = "127.0.0.1|" + Cp949("업무") + "^12|" + Cp949("여행") + "^7";
  Reply list = Get("/imgList.php?state=geturi&tid=u1");
  ASSERT_TRUE(list.complete);
  ASSERT_EQ(list.body.size(), 3000000u);
  EXPECT_TRUE(list.body.starts_with(folders + "|xxxx"));
  EXPECT_TRUE(list.body.ends_with("xxxx^99999"));

  // The upload's answer comes after a long line, so its first piece shows neither answer.
  const std::string png = MakePng(3000);
  Reply upload = Upload({}, png);
  ASSERT_TRUE(upload.complete);
  ASSERT_EQ(upload.body.size(), 100000u);
  EXPECT_EQ(upload.body.find_first_not_of('x'), 100000u - 19);  // the line break before the name
  EXPECT_TRUE(IsStoredName(upload.body.substr(100000 - 18)));
  EXPECT_EQ(upload.raw.find(".png"), upload.raw.size() - 4);
  std::string name = upload.body.substr(100000 - 18, 14);

  ASSERT_EQ(Admin("add=download:huge=1000000").status, 200);
  Reply image = Get("/img/u1/" + name + ".png");
  ASSERT_EQ(image.body.size(), 1000000u);
  EXPECT_EQ(image.body.substr(0, 3000), png);
  EXPECT_EQ(image.body.find_first_not_of('\0', 3000), std::string::npos);
}

TEST_F(FaultsOnTheWire, TimesAndMatchLimitAFault) {
  Start();
  std::string a = Uploaded(MakePng(3000, 'a'));
  std::string b = Uploaded(MakePng(3000, 'b'));
  ASSERT_EQ(Admin("add=download:status=404,times=1,match=" + b).status, 200);
  RawClient client(port());
  EXPECT_EQ(client.Get("/img/u1/" + a + ".png").status, 200);
  EXPECT_EQ(client.Get("/img/u1/" + b + ".png").status, 404);
  EXPECT_EQ(client.Get("/img/u1/" + b + ".png").status, 200);
}

TEST_F(FaultsOnTheWire, AdminEndpointListsChangesAndRefuses) {
  Start({"--fault", "download:drop"});
  EXPECT_EQ(Get("/admin/faults").body, "download:drop\n");
  Reply bad = Admin("add=list:split=1");
  EXPECT_EQ(bad.status, 400);
  EXPECT_NE(bad.body.find("pieces"), std::string::npos);
  EXPECT_EQ(Admin("clear=nothing").status, 400);
  EXPECT_EQ(Get("/admin/faults").body, "download:drop\n");  // a refused change changes nothing
  EXPECT_EQ(Admin("clear=download&add=upload:delay=5,times=2").body, "upload:delay=5,times=2\n");
  EXPECT_EQ(Admin("clear=all").body, "");
}

}  // namespace
}  // namespace torvo::service::testing

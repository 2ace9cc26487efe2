#include <fstream>
#include <iterator>

#include "service_fixture.h"

namespace torvo::service::testing {
namespace {

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class Exchanges : public ServiceTest {};

TEST_F(Exchanges, FolderAndImageListsOnOneConnection) {
  Start();
  const std::string kim = "%B1%E8%20%C3%B6%BC%F6";  // "김 철수" in code page 949
  const std::string folders = "127.0.0.1|" + Cp949("업무") + "^12|" + Cp949("여행") + "^7";
  struct Case {
    std::string target, body;
  };
  const Case cases[] = {
      {"/imgList.php?state=geturi&tid=u1", folders},
      {Base() + "/imgList.php?state=geturi&tid=u1", folders},  // absolute form
      {"/imgList.php?state=geturi&tid=" + kim, "127.0.0.1"},
      {"/imgList.php?state=geturi&tid=nobody", "0"},
      {"/imgList.php?state=geturi&tid=out", "0"},
      {"/imgList.php?state=geturi&tid=U1", "0"},
      {"/imgList.php?state=geturi", "0"},
      {"/imgList.php?tid=u1", Base() + "/img/u1"},
      {"/imgList.php?tid=" + kim, Base() + "/img/" + kim},
      {"/imgList.php?tid=out", "0"},
      {"/imgList.php?tid=", "0"},
  };
  RawClient client(port());
  for (const auto& c : cases) {
    Reply reply = client.Get(c.target);
    ASSERT_TRUE(reply.complete) << c.target;
    EXPECT_FALSE(reply.closed);
    EXPECT_EQ(reply.status, 200) << c.target;
    EXPECT_EQ(reply.body, c.body) << c.target;
    EXPECT_EQ(reply.headers["content-type"], "text/plain; charset=EUC-KR");
  }
}

TEST_F(Exchanges, UploadIsStoredByteForByteAndAnsweredInOneWrite) {
  Start();
  const std::string png = MakePng(3000);
  UploadFields fields;
  fields.url = "http://a.example/?q=1&r=%";
  fields.title = Cp949("제목 a");
  fields.note = "line\r\n" + Cp949("둘");
  fields.visibility = "S";
  fields.folder = "12";
  const std::string request = UploadRequest(fields, png);
  ASSERT_NE(request.find("\r\nContent-Length:3229\r\n"), std::string::npos);

  RawClient client(port());
  client.Send(request);
  Reply reply = client.Read();
  ASSERT_TRUE(reply.complete);
  EXPECT_EQ(reply.status, 200);
  ASSERT_EQ(reply.pieces.size(), 1u) << "the reply came in more than one write";
  EXPECT_TRUE(IsStoredName(reply.body)) << reply.body;
  EXPECT_EQ(reply.raw.find(".png"), reply.raw.size() - 4) << "an earlier \".png\" in " << reply.raw;
  EXPECT_EQ(reply.headers["connection"], "close");
  EXPECT_TRUE(client.ServerClosed());

  auto images = Images("u1");
  ASSERT_EQ(images.size(), 1u);
  EXPECT_EQ(images[0].name + ".png", reply.body);
  EXPECT_EQ(images[0].folder, 12);
  EXPECT_FALSE(images[0].isPublic);
  EXPECT_EQ(images[0].url, "http://a.example/?q=1&r=%");
  EXPECT_EQ(images[0].title, "제목 a");
  EXPECT_EQ(images[0].note, "line\r\n둘");
  EXPECT_EQ(OpenTestStore(dir_.path())->Picture(images[0]), png);
  if (!TestingPostgres()) EXPECT_EQ(ReadFile(dir_.path() / "images" / images[0].file), png);
}

TEST_F(Exchanges, TwoUploadsInOneSecondGetDifferentNames) {
  Start();
  Reply first = Upload({}, MakePng(3000, 'a'));
  Reply second = Upload({}, MakePng(3000, 'b'));
  ASSERT_TRUE(IsStoredName(first.body)) << first.raw;
  ASSERT_TRUE(IsStoredName(second.body)) << second.raw;
  EXPECT_NE(first.body, second.body);
  std::string list = Get("/imgList.php?tid=u1").body;
  EXPECT_EQ(list, Base() + "/img/u1|" + first.body.substr(0, 14) + "|" + second.body.substr(0, 14));
}

TEST_F(Exchanges, RefusedUploadsStoreNothingAndNeverLookTaken) {
  Start();
  struct Case {
    std::string what;
    UploadFields fields;
    std::string png;
    int status;
    std::string bodyPart;
  };
  auto with = [](auto change) {
    UploadFields fields;
    change(fields);
    return fields;
  };
  const std::string png = MakePng(3000);
  const Case cases[] = {
      {"unknown identity", with([](auto& f) { f.tid = "nobody"; }), png, 200, "idnotfind"},
      {"signed out", with([](auto& f) { f.tid = "out"; }), png, 200, "idnotfind"},
      {"foreign folder", with([](auto& f) { f.folder = "99"; }), png, 400, "folder 99 is not one of"},
      {"folder not a number", with([](auto& f) { f.folder = "1x"; }), png, 400, "whole number"},
      {"odd public flag", with([](auto& f) { f.visibility = "X"; }), png, 400, "public must be"},
      {"not a PNG", UploadFields{}, "GIF89a" + std::string(100, 'x'), 400, "not a PNG"},
      {"empty file", UploadFields{}, "", 400, "empty"},
  };
  for (const auto& c : cases) {
    Reply reply = Upload(c.fields, c.png);
    ASSERT_TRUE(reply.complete) << c.what;
    EXPECT_EQ(reply.status, c.status) << c.what;
    EXPECT_NE(reply.body.find(c.bodyPart), std::string::npos) << c.what << ": " << reply.body;
    EXPECT_EQ(reply.raw.find(".png"), std::string::npos) << c.what;
    bool signedOut = c.bodyPart == "idnotfind";
    EXPECT_EQ(reply.raw.ends_with("idnotfind"), signedOut) << c.what;
  }
  EXPECT_TRUE(Images("u1").empty());
  EXPECT_FALSE(std::filesystem::exists(dir_.path() / "images" / "1"));
}

TEST_F(Exchanges, ListedImagesDownloadOnOneConnection) {
  Start();
  const std::string a = MakePng(3000, 'a');
  const std::string b = MakePng(20000, 'b');
  std::string nameA = Upload({}, a).body.substr(0, 14);
  std::string nameB = Upload({}, b).body.substr(0, 14);
  ASSERT_EQ(Get("/imgList.php?tid=u1").body, Base() + "/img/u1|" + nameA + "|" + nameB);

  RawClient client(port());
  for (const auto& [name, bytes] : {std::pair{nameB, b}, std::pair{nameA, a}, std::pair{nameB, b}}) {
    Reply reply = client.Get(Base() + "/img/u1/" + name + ".png");
    ASSERT_TRUE(reply.complete);
    EXPECT_FALSE(reply.closed);
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.headers["content-type"], "image/png");
    EXPECT_EQ(reply.body, bytes);
  }
  for (std::string missing : std::vector<std::string>{"/img/u1/nope.png", "/img/nobody/" + nameA + ".png", "/img/u1/" + nameA + ".gif",
                              "/img/u1", "/img/" + nameA + ".png"}) {
    Reply reply = client.Get(missing);
    EXPECT_EQ(reply.status, 404) << missing;
  }

  // Signed out from the command line while the service runs: the images are withheld.
  ASSERT_EQ(RunCommand({"user", "signout", "--data", dir_.path().string(), "u1"}).exitCode, 0);
  EXPECT_EQ(client.Get("/img/u1/" + nameA + ".png").status, 403);
  EXPECT_EQ(client.Get("/imgList.php?tid=u1").body, "0");
}

TEST_F(Exchanges, OddNamesAndKoreanIdentitiesAreEscapedInAddresses) {
  Start();
  const std::filesystem::path file = dir_.path() / "in.png";
  const std::string png = MakePng(500);
  std::ofstream(file, std::ios::binary) << png;
  for (std::string name : {"가나", "../up", ""}) {
    auto added = RunCommand({"image", "add", "--data", dir_.path().string(), "김 철수", file.string(), "--name", name});
    ASSERT_EQ(added.exitCode, 0) << name;
  }
  const std::string kim = "%B1%E8%20%C3%B6%BC%F6";
  EXPECT_EQ(Get("/imgList.php?tid=" + kim).body, Base() + "/img/" + kim + "|" + Cp949("가나") + "|../up|");
  // The names as the sync tool puts them into its addresses.
  for (std::string target : std::vector<std::string>{"/img/" + kim + "/%B0%A1%B3%AA.png", "/img/" + kim + "/../up.png", "/img/" + kim + "/.png"}) {
    Reply reply = Get(target);
    EXPECT_EQ(reply.status, 200) << target;
    EXPECT_EQ(reply.body, png) << target;
  }
}

TEST_F(Exchanges, ALongNoteIsTakenWhole) {
  Start();
  std::string note;
  for (int i = 0; i < 6000; ++i) note += "가";
  UploadFields fields;
  fields.note = Cp949(note);  // a request line of over 36,000 bytes
  Reply reply = Upload(fields, MakePng(3000));
  ASSERT_TRUE(IsStoredName(reply.body)) << reply.raw;
  EXPECT_EQ(Images("u1").at(0).note, note);
}

TEST_F(Exchanges, CommandLine) {
  const std::string data = dir_.path().string();
  auto help = RunCommand({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("torvo-service user add|signout|signin --data DIR IDENTITY"), std::string::npos);

  auto folders = RunCommand({"folder", "list", "--data", data, "u1"});
  EXPECT_EQ(folders.exitCode, 0);
  EXPECT_EQ(folders.out, "0\t기본\n12\t업무\n7\t여행\n");
  auto added = RunCommand({"folder", "add", "--data", data, "u1", "새 폴더"});
  EXPECT_EQ(added.exitCode, 0);
  EXPECT_EQ(added.out, "added folder 13 \"새 폴더\" to u1\n");

  struct Case {
    std::vector<std::string> args;
    int exitCode;
  };
  const Case refused[] = {
      {{"folder", "add", "--data", data, "u1", "a|b"}, 1},
      {{"user", "add", "--data", data, "u1"}, 1},
      {{"user", "signout", "--data", data, "nobody"}, 1},
      {{"user", "add", "u2"}, 2},                                   // no --data
      {{"user", "add", "--data", data, "u2", "--number", "3"}, 2},  // an option it does not take
      {{"folder", "add", "--data", data, "u1", "x", "--number", "x"}, 2},
      {{"image", "remove", "--data", data, "u1"}, 2},
      {{"--port", "70000", "--data", data}, 2},
      {{"--data", data, "--fault", "list:slow"}, 2},
  };
  for (const auto& c : refused) {
    std::string joined;
    for (const auto& arg : c.args) joined += arg + " ";
    EXPECT_EQ(RunCommand(c.args).exitCode, c.exitCode) << joined;
  }
  EXPECT_EQ(RunCommand({"image", "list", "--data", data, "u1"}).out, "name\tuploaded\tfolder\tpublic\tbytes\turl\ttitle\tnote\n");
}

TEST_F(Exchanges, ASecondServiceOnABusyPortFails) {
  Start();
  TempDir other;
  auto second = RunCommand({"--port", std::to_string(port()), "--data", other.path().string()});
  EXPECT_EQ(second.exitCode, 1);
  EXPECT_EQ(second.out, "");
}

TEST_F(Exchanges, StopsCleanlyWhileAClientHoldsItsConnection) {
  Start();
  RawClient client(port());
  ASSERT_TRUE(client.Get("/imgList.php?tid=u1").complete);
  EXPECT_EQ(service_->Stop(), 0);
  EXPECT_NE(service_->Log().find("torvo-service: stopped"), std::string::npos);
  EXPECT_TRUE(client.ServerClosed());
}

}  // namespace
}  // namespace torvo::service::testing

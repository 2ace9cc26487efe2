#pragma once
// What a user shares with everyone: their public album (the entries not marked private, with a
// list, a search, a folder filter, a picture wall and a page for each entry that link previews
// read), its Atom feeds, and the user's private feed of every entry at a secret address.
//
// Nothing here reads or sets a cookie: a visitor is nobody. An album whose user does not share it
// and a name that is no album answer the same 404, as does every private entry on every road.
#include <httplib.h>

#include <string>

#include "service/web/html.h"
#include "service/store/store.h"

namespace torvo::service {

class AlbumPages {
 public:
  explicit AlbumPages(Store& store);
  void Register(httplib::Server& server);
  // --public-address: where visitors reach the service; absolute addresses (og:image, feeds) start
  // with it. Empty: as the request reached us.
  void SetPublicAddress(std::string address) { publicAddress_ = std::move(address); }

  static constexpr int kListSize = 30;
  static constexpr int kWallSize = 60;
  static constexpr int kFeedSize = 50;

  // The sharing part of the signed-in settings page: the switch, the album's name and address,
  // and the private feed's address with a button for a new one.
  std::string SettingsSection(Language language, int64_t userId, const std::string& origin,
                              const std::string& csrfField);

 private:
  struct Visit;
  Visit Begin(const httplib::Request& request, httplib::Response& response) const;
  // The album named in the path while its user shares it; otherwise the 404 is sent.
  bool FindAlbum(const httplib::Request& request, httplib::Response& response, Visit& visit);
  void NotFound(const Visit& visit, httplib::Response& response) const;

  void ListPage(const httplib::Request& request, httplib::Response& response);
  void WallPage(const httplib::Request& request, httplib::Response& response);
  void EntryPage(const httplib::Request& request, httplib::Response& response);
  void Thumbnail(const httplib::Request& request, httplib::Response& response);
  void PublicFeed(const httplib::Request& request, httplib::Response& response);
  void PrivateFeed(const httplib::Request& request, httplib::Response& response);
  void PrivateThumbnail(const httplib::Request& request, httplib::Response& response);

  Store& store_;
  std::string publicAddress_;
};

// Text made safe inside XML elements and attributes; characters XML 1.0 cannot hold are left out.
std::string EscapeXml(std::string_view text);

// An upload time ("YYYY-MM-DD hh:mm:ss", local) as RFC 3339 in UTC, as Atom wants it.
std::string AtomTime(const std::string& uploaded);

}  // namespace torvo::service

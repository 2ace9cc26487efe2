#pragma once
// The web page where a user finds, searches and manages what they kept: sign-in, the list with
// thumbnails, search, folders, editing, settings with the ToolbarID, export and import. Rendered
// by the service itself as plain HTML with one stylesheet and a few lines of script.
//
// Behind a TLS proxy: the proxy passes the Host header on and sets "X-Forwarded-Proto: https";
// the session cookie is then Secure, and forms must come from https://HOST. A proxy on this
// machine (loopback) may name the client in X-Forwarded-For, which the sign-in slow-down counts.
#include <httplib.h>

#include <optional>
#include <string>

#include "service/store/accounts.h"
#include "service/web/album.h"
#include "service/web/html.h"
#include "service/store/store.h"

namespace torvo::service {

class WebPages {
 public:
  explicit WebPages(Store& store, SignInThrottle::Clock clock = nullptr);
  void Register(httplib::Server& server);
  // The address to show users for their programs; empty: as their browser reached the page.
  void SetPublicAddress(std::string address) {
    album_.SetPublicAddress(address);
    publicAddress_ = std::move(address);
  }

  static constexpr int kPageSize = 30;

 private:
  // Who asks, in which language, and whether the request came through TLS.
  struct Visit {
    Language language = Language::English;
    std::optional<User> user;
    Session session;
    std::string sessionHash;
    bool secure = false;
    std::string origin;  // this service's own origin as the browser sees it
    std::string client;  // the client's address
  };

  Visit Begin(const httplib::Request& request, httplib::Response& response);
  // A page that needs a signed-in user; false (and a redirect to the sign-in) without one.
  bool SignedIn(const Visit& visit, httplib::Response& response);
  // For every form that changes something: from this origin, with this session's token.
  bool FormAccepted(const Visit& visit, const httplib::Request& request, httplib::Response& response,
                    std::string_view csrf);

  void ListPage(const httplib::Request& request, httplib::Response& response);
  void SignInPage(const httplib::Request& request, httplib::Response& response);
  void SignIn(const httplib::Request& request, httplib::Response& response);
  void SignOut(const httplib::Request& request, httplib::Response& response);
  void SettingsPage(const httplib::Request& request, httplib::Response& response);
  void NewToolbarId(const httplib::Request& request, httplib::Response& response);
  void ChangeSharing(const httplib::Request& request, httplib::Response& response);
  void NewFeedAddress(const httplib::Request& request, httplib::Response& response);
  void EditPage(const httplib::Request& request, httplib::Response& response);
  void EditEntry(const httplib::Request& request, httplib::Response& response);
  void DeleteEntry(const httplib::Request& request, httplib::Response& response);
  void FoldersPage(const httplib::Request& request, httplib::Response& response);
  void ChangeFolder(const httplib::Request& request, httplib::Response& response, const std::string& action);
  // Devices: the sign-in exchange of the programs and the toolbar, its sign-out, and the settings
  // page's list (devices.cpp).
  void RegisterDevices(httplib::Server& server);
  void DeviceSignIn(const httplib::Request& request, httplib::Response& response);
  void DeviceSignOut(const httplib::Request& request, httplib::Response& response);
  void RevokeDevice(const httplib::Request& request, httplib::Response& response);
  std::string DevicesSection(const Visit& visit, const httplib::Request& request) const;
  void Thumbnail(const httplib::Request& request, httplib::Response& response);
  void ExportHtml(const httplib::Request& request, httplib::Response& response);
  void ExportZip(const httplib::Request& request, httplib::Response& response);
  void Import(const httplib::Request& request, httplib::Response& response);

  std::string Layout(const Visit& visit, std::string_view title, const std::string& body) const;
  void Show(const Visit& visit, httplib::Response& response, int status, std::string_view title,
            const std::string& body) const;
  std::string FolderName(const Visit& visit, int32_t number, const std::vector<Folder>& folders) const;

  Store& store_;
  SignInThrottle throttle_;
  AlbumPages album_;
  std::string publicAddress_;
};

}  // namespace torvo::service

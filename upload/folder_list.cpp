#include "upload/folder_list.h"

#include <charconv>

#include "platform/codepage.h"
#include "platform/http.h"
#include "platform/text.h"

namespace torvo::upload {

namespace {

std::u16string Number(long long n) { return FromUtf8(std::to_string(n)); }

// An optional sign and decimal digits in the signed 32-bit range, spaces around allowed.
bool ReadFolderId(std::u16string_view text, int32_t& id) {
  size_t begin = text.find_first_not_of(u' ');
  if (begin == std::u16string_view::npos) return false;
  size_t end = text.find_last_not_of(u' ') + 1;
  std::u16string_view t = text.substr(begin, end - begin);
  bool negative = false;
  if (t[0] == u'+' || t[0] == u'-') {
    negative = t[0] == u'-';
    t.remove_prefix(1);
  }
  if (t.empty()) return false;
  int64_t value = 0;
  for (char16_t c : t) {
    if (c < u'0' || c > u'9') return false;
    value = value * 10 + (c - u'0');
    if (value > 2147483648LL) return false;
  }
  if (negative) value = -value;
  if (value > INT32_MAX || value < INT32_MIN) return false;
  id = static_cast<int32_t>(value);
  return true;
}

FolderReply Unreadable(std::u16string reason) {
  FolderReply r;
  r.kind = FolderReply::Kind::kFailed;
  r.message = u"서비스의 폴더 목록 응답을 읽을 수 없습니다: " + reason;
  return r;
}

}  // namespace

std::string FolderListAddress(std::string_view serviceHost, std::u16string_view toolbarId) {
  return FolderListUrl("http://" + std::string(serviceHost) + "/", toolbarId);
}

std::string FolderListUrl(std::string_view serviceUrl, std::u16string_view toolbarId) {
  std::string address = std::string(serviceUrl) + "imgList.php?state=geturi&tid=";
  return EscapeRequestTarget(address + ToCp949(toolbarId));
}

std::u16string TlsFailureMessage(int failureKind, std::string_view host) {
  const std::u16string where = FromUtf8(std::string(host));
  switch (static_cast<HttpResult::Failure>(failureKind)) {
    case HttpResult::Failure::kUntrusted:
      return u"서비스(" + where + u")의 인증서를 신뢰할 수 없습니다. 아무것도 보내지 않았습니다.\n"
             u"자체 서명 인증서라면 torvo-connect --certificate로 그 인증서를 지정해 주세요.";
    case HttpResult::Failure::kNotTls:
      return u"서비스(" + where + u")가 https(TLS)로 응답하지 않습니다. 주소가 http://인지 확인해 주세요.";
    case HttpResult::Failure::kSpeaksTls:
      return u"서비스(" + where + u")가 https(TLS)로만 응답합니다. 주소를 https://로 바꿔 주세요.";
    default:
      return {};
  }
}

FolderReply ParseFolderReply(std::u16string_view reply) {
  FolderReply r;
  if (reply == u"0") {
    r.kind = FolderReply::Kind::kSignedOut;
    r.message = kSignedOutMessage;
    return r;
  }
  if (reply.empty()) return Unreadable(u"응답이 비어 있습니다.");
  auto pieces = SplitFields(reply, std::u16string_view(u"|"));
  if (pieces[0].empty()) return Unreadable(u"업로드 호스트가 비어 있습니다.");
  r.target = pieces[0];
  for (size_t i = 1; i < pieces.size(); ++i) {
    const std::u16string& piece = pieces[i];
    if (piece.empty()) return Unreadable(u"폴더 항목 " + Number(i) + u"이(가) 비어 있습니다.");
    auto parts = SplitFields(std::u16string_view(piece), std::u16string_view(u"^"));
    if (parts.size() < 2) return Unreadable(u"폴더 항목 " + Number(i) + u"에 '^'가 없습니다: \"" + piece + u"\"");
    FolderEntry entry{parts[0], 0};
    if (!ReadFolderId(parts[1], entry.id))
      return Unreadable(u"폴더 항목 " + Number(i) + u"의 번호가 숫자가 아닙니다: \"" + parts[1] + u"\"");
    r.folders.push_back(std::move(entry));
  }
  r.kind = FolderReply::Kind::kFolders;
  return r;
}

FolderReply QueryFolders(HttpGetter& http, std::string_view serviceHost, std::u16string_view toolbarId) {
  return QueryFoldersAt(http, "http://" + std::string(serviceHost) + "/", serviceHost, toolbarId);
}

FolderReply QueryFoldersAt(HttpGetter& http, std::string_view serviceUrl, std::string_view host,
                           std::u16string_view toolbarId) {
  HttpResult result = http.Get(FolderListUrl(serviceUrl, toolbarId));
  if (!result.transportOk) {
    FolderReply r;
    r.message = TlsFailureMessage(static_cast<int>(result.failure), host);
    if (!r.message.empty()) return r;
    r.message = u"서비스에 연결하지 못해 폴더 목록을 받을 수 없습니다.\n(" + FromUtf8(result.error) + u")";
    return r;
  }
  if (!result.Success()) {
    FolderReply r;
    r.message = u"서비스가 폴더 목록 요청에 오류로 응답했습니다 (HTTP " + Number(result.status) + u").";
    return r;
  }
  return ParseFolderReply(FromCp949(result.body));
}

}  // namespace torvo::upload

#include "service/web/html.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <map>

namespace torvo::service {

std::string EscapeHtml(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

Language PreferredLanguage(std::string_view acceptLanguage) {
  double korean = 0, english = 0;
  size_t order = 0;
  while (!acceptLanguage.empty()) {
    size_t comma = acceptLanguage.find(',');
    std::string_view item = acceptLanguage.substr(0, comma);
    acceptLanguage = comma == std::string_view::npos ? std::string_view{} : acceptLanguage.substr(comma + 1);
    size_t semicolon = item.find(';');
    std::string tag(item.substr(0, semicolon));
    std::erase_if(tag, [](unsigned char c) { return std::isspace(c); });
    std::transform(tag.begin(), tag.end(), tag.begin(), [](unsigned char c) { return std::tolower(c); });
    double weight = 1.0;
    if (semicolon != std::string_view::npos) {
      std::string parameters(item.substr(semicolon + 1));
      size_t q = parameters.find("q=");
      if (q != std::string::npos) weight = std::atof(parameters.c_str() + q + 2);
    }
    // Earlier tags of equal weight win: a tiny bonus for the order they come in.
    weight -= static_cast<double>(order++) * 1e-6;
    std::string primary = tag.substr(0, tag.find('-'));
    if (primary == "ko") korean = std::max(korean, weight);
    if (primary == "en") english = std::max(english, weight);
  }
  return korean > 0 && korean > english ? Language::Korean : Language::English;
}

std::string_view Words(Language language, std::string_view english) {
  static const std::map<std::string_view, const char*> kKorean = {
      {"Sign in", "로그인"},
      {"Sign out", "로그아웃"},
      {"Name", "이름"},
      {"Password", "비밀번호"},
      {"Wrong name or password.", "이름 또는 비밀번호가 틀렸습니다."},
      {"Too many failed sign-ins. Try again in %d seconds.", "로그인 실패가 너무 많습니다. %d초 뒤에 다시 하세요."},
      {"Saved pages", "저장한 페이지"},
      {"Search", "검색"},
      {"Search title, address and note", "제목, 주소, 메모 검색"},
      {"All folders", "모든 폴더"},
      {"Folders", "폴더"},
      {"Settings", "설정"},
      {"Private", "비공개"},
      {"Edit", "고치기"},
      {"Delete", "지우기"},
      {"Save", "저장"},
      {"Title", "제목"},
      {"Note", "메모"},
      {"Folder", "폴더"},
      {"Next", "다음"},
      {"Previous", "이전"},
      {"Nothing here yet.", "아직 아무것도 없습니다."},
      {"Nothing matches.", "찾는 것이 없습니다."},
      {"Edit entry", "항목 고치기"},
      {"Delete this entry and its picture", "이 항목과 그림 지우기"},
      {"Add folder", "폴더 더하기"},
      {"Rename", "이름 바꾸기"},
      {"Its entries move to 기본.", "폴더의 항목은 기본으로 옮겨집니다."},
      {"ToolbarID", "ToolbarID"},
      {"Paste it into the options of the Torvo toolbar.", "Torvo 도구 모음의 설정에 붙여 넣으세요."},
      {"Issue a new ToolbarID", "새 ToolbarID 받기"},
      {"The old one then signs the toolbar out.", "그러면 이전 ID로는 로그아웃 상태가 됩니다."},
      {"Address of this service", "이 서비스의 주소"},
      {"Enter it in torvo-connect or in the options of the Torvo toolbar.",
       "torvo-connect나 Torvo 도구 모음의 설정에 입력하세요."},
      {"Copy", "복사"},
      {"Copied", "복사했습니다"},
      {"Devices", "기기"},
      {"Each program or toolbar that signed in with your name and password has a ToolbarID of its own. "
       "Revoking one signs that device out alone.",
       "이름과 비밀번호로 로그인한 프로그램이나 도구 모음은 저마다 ToolbarID를 받습니다. "
       "하나를 해지하면 그 기기만 로그아웃됩니다."},
      {"No device has signed in yet.", "아직 로그인한 기기가 없습니다."},
      {"Device", "기기"},
      {"Created", "만든 때"},
      {"Last used", "마지막 사용"},
      {"never", "없음"},
      {"Revoke", "해지"},
      {"Export", "내보내기"},
      {"Bookmarks (HTML)", "북마크 (HTML)"},
      {"Whole album (zip)", "앨범 전체 (zip)"},
      {"Import bookmarks", "북마크 가져오기"},
      {"Import", "가져오기"},
      {"Imported %d entries.", "항목 %d개를 가져왔습니다."},
      {"%d were there already.", "%d개는 이미 있었습니다."},
      {"Back to the list", "목록으로"},
      {"Not found.", "찾을 수 없습니다."},
      {"This form has expired. Go back, reload the page and try again.",
       "양식이 만료되었습니다. 돌아가서 페이지를 새로 고친 뒤 다시 하세요."},
      {"Signed in as", "로그인:"},
      {"Page", "쪽"},
      {"No picture", "그림 없음"},
      {"List", "목록"},
      {"Picture wall", "그림 벽"},
      {"Feed", "피드"},
      {"%s's album", "%s의 앨범"},
      {"Sharing", "공유"},
      {"Your entries that are not private are public at", "비공개가 아닌 항목은 이 주소에 공개됩니다:"},
      {"Sharing is off: nobody but you sees any of your entries.", "공유가 꺼져 있습니다. 당신 말고는 아무도 항목을 볼 수 없습니다."},
      {"Share the entries that are not private", "비공개가 아닌 항목 공유하기"},
      {"Album name", "앨범 이름"},
      {"Private feed", "비공개 피드"},
      {"Every entry, the private ones too, for your feed reader alone. Keep this address secret.",
       "비공개 항목까지 모든 항목을 당신의 피드 리더로만 받습니다. 이 주소는 남에게 알리지 마세요."},
      {"New private feed address", "새 비공개 피드 주소 받기"},
      {"The old address then stops working.", "그러면 이전 주소는 더 이상 쓸 수 없습니다."},
      {"All my entries", "내 모든 항목"},
  };
  if (language == Language::Korean) {
    auto found = kKorean.find(english);
    if (found != kKorean.end()) return found->second;
  }
  return english;
}

}  // namespace torvo::service

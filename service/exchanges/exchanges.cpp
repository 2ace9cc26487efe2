// The four exchanges of the two programs: folder list, upload, image list and image download.
#include <fstream>
#include <iterator>

#include "service/wire/cp949.h"
#include "service/exchanges/multipart.h"
#include "service/exchanges/service.h"
#include "service/wire/url.h"

namespace torvo::service {

namespace {

// The clients read the text replies as code page 949.
constexpr const char* kTextType = "text/plain; charset=EUC-KR";
constexpr std::string_view kPngSignature = "\x89PNG\r\n\x1A\n";

// What the faults of one request change in its answer; how it goes out is the connection's plan.
struct FaultEffects {
  bool signedOut = false;
  bool notANumber = false;
  int status = 0;
  std::optional<std::string> reply;
  int64_t huge = 0;
  // The normal answer was replaced: an upload is then not stored.
  bool Replaced() const { return notANumber || status != 0 || reply.has_value(); }
};

FaultEffects ApplyFaults(const std::vector<Fault>& faults, Connection& connection) {
  FaultEffects effects;
  ReplyPlan& plan = connection.Plan();
  for (const auto& fault : faults) {
    connection.AddNote(FormatFault(fault));
    switch (fault.kind) {
      case FaultKind::Delay: plan.delayMs = std::max(plan.delayMs, static_cast<int>(fault.value)); break;
      case FaultKind::Split:
        plan.pieces = static_cast<int>(fault.value);
        plan.pauseMs = fault.pauseMs;
        break;
      case FaultKind::Drop: plan.dropAfterBody = fault.value < 0 ? ReplyPlan::kDropHalf : fault.value; break;
      case FaultKind::Status:
        if (effects.status == 0) effects.status = static_cast<int>(fault.value);
        break;
      case FaultKind::Huge: effects.huge = std::max(effects.huge, fault.value); break;
      case FaultKind::SignedOut: effects.signedOut = true; break;
      case FaultKind::NotANumber: effects.notANumber = true; break;
      case FaultKind::Reply:
        if (!effects.reply) effects.reply = fault.reply;
        break;
    }
  }
  return effects;
}

// How a huge reply keeps its exchange's form.
enum class Padding {
  FolderEntry,    // one more folder, with a very long name
  ImageName,      // one more image, with a very long name
  LeadingLine,    // a very long line before the answer
  TrailingBytes,  // zero bytes after the image
};

// Sets the reply: the body as it is, or grown to `huge` bytes by filler in its exchange's form.
// A grown body is produced as it is sent, so its size costs no memory.
void SetBody(httplib::Response& response, std::string body, const char* type, int64_t huge, Padding padding) {
  if (huge <= 0 || static_cast<uint64_t>(huge) <= body.size()) {
    response.set_content(body, type);
    return;
  }
  std::string head;
  std::string tail;
  char filler = 'x';
  switch (padding) {
    case Padding::FolderEntry:
      head = body + "|";
      tail = "^99999";
      break;
    case Padding::ImageName: head = body + "|"; break;
    case Padding::LeadingLine: tail = "\n" + body; break;
    case Padding::TrailingBytes:
      head = std::move(body);
      filler = '\0';
      break;
  }
  size_t fixed = head.size() + tail.size();
  if (static_cast<uint64_t>(huge) <= fixed) {
    response.set_content(head + tail, type);
    return;
  }
  size_t fill = static_cast<size_t>(huge) - fixed;
  size_t total = static_cast<size_t>(huge);
  response.set_content_provider(
      total, type, [head, tail, filler, fill](size_t offset, size_t length, httplib::DataSink& sink) {
        std::string chunk;
        size_t end = offset + std::min<size_t>(length, 64 * 1024);
        for (size_t pos = offset; pos < end;) {
          if (pos < head.size()) {
            size_t take = std::min(end, head.size()) - pos;
            chunk.append(head, pos, take);
            pos += take;
          } else if (pos < head.size() + fill) {
            size_t take = std::min(end, head.size() + fill) - pos;
            chunk.append(take, filler);
            pos += take;
          } else {
            size_t from = pos - head.size() - fill;
            size_t take = end - pos;
            chunk.append(tail, from, take);
            pos += take;
          }
        }
        return sink.write(chunk.data(), chunk.size());
      });
}

// The answer after faults: an injected status or reply text replaces the normal one.
void Respond(httplib::Response& response, const FaultEffects& effects, int status, std::string body, const char* type,
             Padding padding) {
  if (effects.status != 0) {
    status = effects.status;
    body = "service error " + std::to_string(status) + "\n";
    type = "text/plain";
  } else if (effects.reply) {
    status = 200;
    body = *effects.reply;
  }
  response.status = status;
  SetBody(response, std::move(body), type, effects.huge, padding);
}

std::string ToCp949OrQuestionMarks(const std::string& utf8) {
  if (auto bytes = Utf8ToCp949(utf8)) return *bytes;
  return std::string(utf8.size(), '?');  // never stored: names are checked when they are added
}

std::string Identity(const QueryFields& fields) { return Cp949ToUtf8(FindField(fields, "tid").value_or("")); }

// Checks an upload's fields and file; on success fills image and png, else returns the reason.
std::string CheckUpload(Store& store, const User& user, const QueryFields& fields, const httplib::Request& request,
                        const std::string& body, NewImage& image, std::string_view& png) {
  std::string visibility = FindField(fields, "public").value_or("");
  if (visibility != "P" && visibility != "S") return "public must be P (public) or S (private)";
  image.isPublic = visibility == "P";
  auto folder = ParseInt32(FindField(fields, "folder").value_or(""));
  if (!folder) return "folder must be a whole number";
  if (*folder != 0 && !store.HasFolder(user.id, *folder)) {
    return "folder " + std::to_string(*folder) + " is not one of the user's folders";
  }
  image.folder = *folder;
  image.url = Cp949ToUtf8(FindField(fields, "url").value_or(""));
  image.title = Cp949ToUtf8(FindField(fields, "title").value_or(""));
  image.note = Cp949ToUtf8(FindField(fields, "note").value_or(""));

  auto boundary = MultipartBoundary(request.get_header_value("Content-Type"));
  if (!boundary) return "the body is not multipart/form-data with a boundary";
  ParsedForm form = ParseMultipart(body, *boundary);
  if (!form.error.empty()) return "the body cannot be read: " + form.error;
  const FormPart* file = nullptr;
  for (const auto& part : form.parts) {
    if (!file && (part.name == "uploadfile" || !part.filename.empty())) file = &part;
  }
  if (!file) return "the form has no file part";
  if (file->data.empty()) return "the file part is empty";
  if (!file->data.starts_with(kPngSignature)) return "the file part is not a PNG picture";
  png = file->data;
  return {};
}

}  // namespace

std::optional<User> Service::FindCaller(const std::string& identity) {
  if (auto user = store_.FindUser(identity)) return user;
  return store_.FindDeviceUser(identity);
}

void Service::ImageListScript(const httplib::Request&, httplib::Response& response) {
  Connection& connection = *Connection::Current();
  QueryFields fields = ParseQuery(SplitTarget(connection.RawTarget()).query);
  bool folderList = FindField(fields, "state") == "geturi";
  auto faults = faults_.Take(folderList ? Exchange::Folders : Exchange::List, connection.RawTarget());
  if (folderList) {
    FolderList(Identity(fields), faults, response);
  } else {
    ImageList(Identity(fields), faults, response);
  }
}

void Service::FolderList(const std::string& identity, const std::vector<Fault>& faults,
                         httplib::Response& response) {
  FaultEffects effects = ApplyFaults(faults, *Connection::Current());
  auto user = FindCaller(identity);
  std::string body = "0";
  if (user && user->signedIn && !effects.signedOut) {
    body = uploadHost_;
    for (const auto& folder : store_.Folders(user->id)) {
      body.append("|").append(ToCp949OrQuestionMarks(folder.name)).append("^").append(std::to_string(folder.number));
    }
  }
  Respond(response, effects, 200, std::move(body), kTextType, Padding::FolderEntry);
}

void Service::ImageList(const std::string& identity, const std::vector<Fault>& faults, httplib::Response& response) {
  FaultEffects effects = ApplyFaults(faults, *Connection::Current());
  auto user = FindCaller(identity);
  std::string body = "0";
  if (user && user->signedIn && !effects.signedOut) {
    body = imageBase_ + "/img/" + PercentEncodeSegment(ToCp949OrQuestionMarks(user->identity));
    for (const auto& image : store_.Images(user->id)) body.append("|").append(ToCp949OrQuestionMarks(image.name));
  }
  Respond(response, effects, 200, std::move(body), kTextType, Padding::ImageName);
}

void Service::Upload(const httplib::Request& request, httplib::Response& response) {
  Connection& connection = *Connection::Current();
  const std::string& target = connection.RawTarget();
  FaultEffects effects = ApplyFaults(faults_.Take(Exchange::Upload, target), connection);
  auto refuse = [&](int status, const std::string& reason) {
    connection.AddNote(reason);
    Respond(response, effects, status, "upload refused: " + reason + "\n", kTextType, Padding::LeadingLine);
  };

  // The whole request is read before anything is answered.
  if (!request.has_header("Content-Length") || request.has_header("Transfer-Encoding")) {
    return refuse(411, "the upload needs a Content-Length");
  }
  uint64_t length = request.get_header_value<uint64_t>("Content-Length");
  if (length > options_.maxUploadBytes) {
    return refuse(413, "the upload is larger than " + std::to_string(options_.maxUploadBytes) + " bytes");
  }
  std::string body;
  if (!connection.ReadBody(static_cast<size_t>(length), body)) {
    return refuse(400, "the body ended before its Content-Length");
  }

  QueryFields fields = ParseQuery(SplitTarget(target).query);
  auto user = FindCaller(Identity(fields));
  if (!user || !user->signedIn || effects.signedOut) {
    return Respond(response, effects, 200, "idnotfind", kTextType, Padding::LeadingLine);
  }
  if (effects.notANumber) {
    return Respond(response, effects, 200, "abcdefghijklmn.png", kTextType, Padding::LeadingLine);
  }
  NewImage image;
  std::string_view png;
  std::string reason = CheckUpload(store_, *user, fields, request, body, image, png);
  if (!reason.empty()) return refuse(400, reason);
  if (effects.Replaced()) return Respond(response, effects, 200, "", kTextType, Padding::LeadingLine);

  try {
    Image stored = store_.AddImage(user->id, image, png);
    connection.AddNote("stored " + stored.name);
    Respond(response, effects, 200, stored.name + ".png", kTextType, Padding::LeadingLine);
  } catch (const StoreError& error) {
    // The reason stays in the log: a path in the reply could look like a stored name.
    connection.AddNote(error.what());
    Respond(response, effects, 500, "upload refused: the image could not be stored\n", kTextType,
            Padding::LeadingLine);
  }
}

void Service::Download(const httplib::Request&, httplib::Response& response) {
  Connection& connection = *Connection::Current();
  const std::string& target = connection.RawTarget();
  FaultEffects effects = ApplyFaults(faults_.Take(Exchange::Download, target), connection);
  auto fail = [&](int status, const std::string& reason) {
    Respond(response, effects, status, reason + "\n", "text/plain", Padding::TrailingBytes);
  };

  // /img/IDENTITY/NAME.png, both escaped; the name may hold "/" as the clients send it.
  std::string_view path = SplitTarget(target).path.substr(5);
  size_t slash = path.find('/');
  if (slash == std::string_view::npos || !path.ends_with(".png") || path.size() - slash - 1 < 4) {
    return fail(404, "no such image");
  }
  std::string identity = Cp949ToUtf8(PercentDecode(path.substr(0, slash)));
  std::string_view escapedName = path.substr(slash + 1);
  escapedName.remove_suffix(4);
  std::string name = Cp949ToUtf8(PercentDecode(escapedName));

  // The usual download first; anything else is told apart below.
  std::optional<Image> image;
  if (!effects.signedOut) image = store_.FindSignedInUsersImage(identity, name);
  if (!image) {
    auto user = FindCaller(identity);
    if (!user) return fail(404, "no such image");
    if (!user->signedIn || effects.signedOut) return fail(403, "the user is signed out");
    image = store_.FindImage(user->id, name);
  }
  if (!image) return fail(404, "no such image");
  auto bytes = store_.Picture(*image);
  if (!bytes) return fail(404, "the image's file is missing");
  Respond(response, effects, 200, std::move(*bytes), "image/png", Padding::TrailingBytes);
}

}  // namespace torvo::service

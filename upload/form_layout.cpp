#include "upload/form_layout.h"

#include <algorithm>

#include "platform/twips.h"

namespace torvo::upload {

namespace {

FormRect Twips(int left, int top, int width, int height) {
  return {TwipsToPixels(left), TwipsToPixels(top), TwipsToPixels(width), TwipsToPixels(height)};
}

// Client area of the original layout, and the column that shows the thumbnail beside it.
const int kFormWidth = TwipsToPixels(4680);
const int kFormHeight = TwipsToPixels(2790);
constexpr int kThumbnailMargin = 8;
constexpr int kThumbnailColumn = 200;

}  // namespace

const FormControls& FormControlPlaces() {
  static const FormControls places{
      Twips(120, 150, 495, 255),    // 주소
      Twips(600, 120, 3975, 270),   // the address
      Twips(120, 510, 495, 255),    // 제목
      Twips(600, 480, 3975, 270),   // the title
      Twips(120, 870, 495, 255),    // 내용
      Twips(600, 840, 3975, 1335),  // the note
      Twips(120, 2230, 735, 375),   // 보안
      Twips(960, 2330, 375, 255),   // 폴더
      Twips(1440, 2280, 1695, 300), // the folder box
      Twips(3360, 2280, 1215, 375), // 저장
  };
  return places;
}

ThumbnailPlace PlaceThumbnail(int thumbnailWidth, int thumbnailHeight) {
  ThumbnailPlace place;
  const int left = kFormWidth + kThumbnailMargin / 2;
  const int top = TwipsToPixels(120);
  place.picImage = {left + (kThumbnailColumn - thumbnailWidth) / 2, top, thumbnailWidth, thumbnailHeight};
  place.clientWidth = kFormWidth + kThumbnailColumn + kThumbnailMargin;
  place.clientHeight = std::max(kFormHeight, top + thumbnailHeight + kThumbnailMargin);
  return place;
}

std::vector<FolderEntry> FolderChoices(const FolderReply& reply) {
  std::vector<FolderEntry> choices{{kDefaultFolderName, 0}};
  choices.insert(choices.end(), reply.folders.begin(), reply.folders.end());
  return choices;
}

void DrawThumbnail(ThumbnailState& thumbnail, Canvas& picImage) {
  picImage.Resize(thumbnail.cDibImage.Width(), thumbnail.cDibImage.Height());
  thumbnail.cDibImage.PaintPicture(&picImage);
}

}  // namespace torvo::upload

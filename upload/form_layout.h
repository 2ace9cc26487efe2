#pragma once
// The upload window's layout and contents as every desktop's view shows them: the controls'
// places (drawn in twips), the thumbnail's column beside them and the window's size around it,
// and the folder list with the default folder first.
#include <cstdint>
#include <vector>

#include "upload/canvas.h"
#include "upload/folder_list.h"
#include "upload/thumbnail_pipeline.h"

namespace torvo::upload {

// A place in the window's client area, in pixels.
struct FormRect {
  int left = 0, top = 0, width = 0, height = 0;
  bool operator==(const FormRect&) const = default;
};

// The controls, from the layout's twips.
struct FormControls {
  FormRect Label2, Text_URL, Label1, Text_Title, Label3, Text_Note, Check_secu, Label_folder, Combo_folder, Command1;
};
const FormControls& FormControlPlaces();

// The picture box for a thumbnail of this size, centred in its column right of the controls,
// and the client area that holds both (at least the layout's own).
struct ThumbnailPlace {
  FormRect picImage;
  int clientWidth = 0;
  int clientHeight = 0;
};
ThumbnailPlace PlaceThumbnail(int thumbnailWidth, int thumbnailHeight);

// What the folder box lists, in order: "기본" (id 0) first, then the reply's folders. The first
// is the one chosen when the window opens.
std::vector<FolderEntry> FolderChoices(const FolderReply& reply);

// The picture box's canvas shows the thumbnail, sized to it.
void DrawThumbnail(ThumbnailState& thumbnail, Canvas& picImage);

}  // namespace torvo::upload

#include "upload/thumbnail_pipeline.h"

#include <FreeImage.h>

#include <cerrno>
#include <cstdio>
#include <exception>
#include <fstream>
#include <system_error>

#include "platform/arithmetic.h"
#include "platform/codepage.h"
#include "platform/error.h"
#include "platform/paths.h"
#include "platform/workfolder.h"
#include "upload/ScreenCapMain.h"
#include "upload/box_rescale.h"
#include "upload/picture_file.h"
#include "upload/thumbnail_size.h"

namespace torvo::upload {

namespace fs = std::filesystem;

fs::path WorkFile(const fs::path& folder, const char* name) {
  return FindNoCase(folder, name).value_or(folder / name);
}

void EnsureWorkFolder(const fs::path& folder) {
  if (DirExists(folder)) return;
  std::error_code ec;
  fs::create_directory(folder, ec);
  if (ec || !DirExists(folder))
    throw TorvoError(kErrPathFileAccess, ProgramName(),
                     "작업 폴더를 만들 수 없습니다: " + Utf8Path(folder) + (ec ? " (" + ec.message() + ")" : ""));
}

namespace {

using Dib = FreeImageBitmap;

// FreeImage is initialised for the pipeline and de-initialised after it, however it ends.
struct FreeImageSession {
  FreeImageSession() { FreeImage_Initialise(FALSE); }
  ~FreeImageSession() { FreeImage_DeInitialise(); }
};

Dib LoadBmp(const fs::path& file) {
  try {
    return ReadFreeImageBitmap(file);
  } catch (const PictureFileError& e) {
    throw TorvoError(kErrFileNotFound, ProgramName(), FileProblem("작업 파일을 읽을 수 없습니다", file, e));
  }
}

void Save(PictureFormat format, FIBITMAP* dib, const fs::path& file) {
  try {
    WriteFreeImageBitmap(dib, file, format, Replacing::kInPlace);
  } catch (const PictureFileError& e) {
    throw TorvoError(kErrPathFileAccess, ProgramName(), FileProblem("작업 파일을 쓸 수 없습니다", file, e));
  }
}

void Delete(const fs::path& file) {
  std::error_code ec;
  if (!fs::remove(file, ec) || ec)
    throw TorvoError(kErrPathFileAccess, ProgramName(),
                     "작업 파일을 지울 수 없습니다: " + Utf8Path(file) + (ec ? " (" + ec.message() + ")" : ""));
}

// The capture's own memory as FreeImage's (it is 24-bit).
Dib Wrapped(const gdi::Bitmap& picture) {
  Dib dib = WrapInFreeImage(picture);
  if (!dib) throw TorvoError(kErrPathFileAccess, ProgramName(), "썸네일을 만들 메모리가 부족합니다.");
  return dib;
}

// inMemory: the capture still on its way to "img1.bmp"; its pixels are the file's, so they are
// scaled as they are, and the file is waited for before it is removed. Otherwise "img1.bmp" is read.
void Pipeline(const fs::path& OutputDir, Canvas& picImage, ThumbnailState& state,
              ScreenCapMain::CaptureInWorkFolder* inMemory) {
  EnsureWorkFolder(OutputDir);
  FreeImageSession session;
  const fs::path capture = inMemory ? inMemory->file() : WorkFile(OutputDir, kCaptureFile);
  Dib loaded = inMemory && inMemory->picture() ? Wrapped(*inMemory->picture()) : LoadBmp(capture);
  state.OutputHeight = ToInt16(FreeImage_GetHeight(loaded.get()));
  state.OutputWidth = ToInt16(FreeImage_GetWidth(loaded.get()));
  const ThumbnailExtent size = ThumbnailSize(state.OutputWidth, state.OutputHeight);

  Dib scaled(BoxRescale(loaded.get(), size.width, size.height));
  loaded.reset();
  const fs::path scaledFile = WorkFile(OutputDir, kScaledFile);
  if (!scaled) {
    throw TorvoError(kErrPathFileAccess, ProgramName(),
                     FileProblem("그림을 줄일 수 없습니다", capture, PictureFileError("not enough memory")));
  }
  Save(PictureFormat::kBmp, scaled.get(), scaledFile);
  scaled.reset();
  if (inMemory) inMemory->Written();
  Delete(capture);

  {
    gdi::Picture picture = LoadPicture(scaledFile);
    state.cDibImage.CreateFromPicture(picture);
  }
  if (!state.cDibImage.hdc() || !state.cDibBuffer.Create(size.width, size.height))
    throw TorvoError(kErrPathFileAccess, ProgramName(), "썸네일을 만들 메모리가 부족합니다: " + Utf8Path(scaledFile));

  state.cProcessor = std::make_unique<cImageProcessDIB>();
  state.cProcessor->FilterType(cImageProcessDIB::FilterSharpen);
  state.cProcessor->ProcessImage(state.cDibImage, state.cDibBuffer);

  picImage.Resize(state.cDibImage.Width(), state.cDibImage.Height());
  state.cDibImage.PaintPicture(&picImage, 0, 0, -1, -1, 0, 0, gdi::Rop::kSrcCopy);
  const fs::path drawnFile = WorkFile(OutputDir, kDrawnFile);
  SavePicture(*picImage.Image(), drawnFile);
  picImage.Clear();

  Dib drawn = LoadBmp(drawnFile);
  Save(PictureFormat::kPng, drawn.get(), WorkFile(OutputDir, kThumbnailFile));
  drawn.reset();
  Delete(scaledFile);
  Delete(drawnFile);
}

// The pipeline, and on any error the BMP work files removed as far as possible.
void PipelineOrNothing(const fs::path& OutputDir, Canvas& picImage, ThumbnailState& state,
                       ScreenCapMain::CaptureInWorkFolder* capture) {
  try {
    Pipeline(OutputDir, picImage, state, capture);
  } catch (...) {
    std::exception_ptr error = std::current_exception();
    // A capture still being written would come back after the clean-up. One that could not be
    // written is what went wrong first, as it is when the steps run one after the other.
    if (capture) {
      try {
        capture->Written();
      } catch (...) {
        error = std::current_exception();
      }
    }
    std::error_code ec;
    for (const char* name : {kCaptureFile, kScaledFile, kDrawnFile}) {
      const fs::path file = WorkFile(OutputDir, name);
      if (fs::is_regular_file(file, ec)) fs::remove(file, ec);
    }
    std::rethrow_exception(error);
  }
}

}  // namespace

void MakeThumbnail(const fs::path& OutputDir, Canvas& picImage, ThumbnailState& state) {
  PipelineOrNothing(OutputDir, picImage, state, nullptr);
}

void MakeThumbnail(const fs::path& OutputDir, Canvas& picImage, ThumbnailState& state,
                   ScreenCapMain::CaptureInWorkFolder& capture) {
  PipelineOrNothing(OutputDir, picImage, state, &capture);
}

}  // namespace torvo::upload

namespace torvo::upload {

std::string ReadThumbnail(const fs::path& OutputDir) {
  const fs::path file = WorkFile(OutputDir, kThumbnailFile);
  std::error_code ec;
  if (!fs::exists(file, ec))
    throw TorvoError(kErrFileNotFound, ProgramName(), "업로드할 썸네일 파일이 없습니다: " + Utf8Path(file));
  errno = 0;
  std::ifstream in(file, std::ios::binary);
  const bool opened = in.is_open();
  const int openError = errno;
  std::string bytes;
  bool ok = opened;
  if (ok) {
    char buffer[65536];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) bytes.append(buffer, static_cast<size_t>(in.gcount()));
    ok = !in.bad();
  }
  // A folder of that name is told as such on every system (Linux opens it and fails to read,
  // Windows refuses to open it).
  const bool folder = fs::is_directory(file, ec);
  if (!ok || folder)
    throw TorvoError(kErrPathFileAccess, ProgramName(),
                     "업로드할 썸네일 파일을 읽을 수 없습니다: " + Utf8Path(file) +
                         (opened || folder || openError == 0 ? "" : " (" + std::generic_category().message(openError) + ")"));
  if (bytes.empty())
    throw TorvoError(kErrPathFileAccess, ProgramName(), "업로드할 썸네일 파일이 비어 있습니다: " + Utf8Path(file));
  return bytes;
}

void KeepThumbnail(const fs::path& OutputDir, const std::u16string& name) {
  const fs::path source = WorkFile(OutputDir, kThumbnailFile);
  const fs::path target = OutputDir / PathFromUtf8(ToUtf8(name));
  std::error_code ec;
  // The same name in another case is the same file to the user: it gives way too.
  if (auto other = FindNoCase(OutputDir, ToUtf8(name)); other && *other != target) fs::remove(*other, ec);
  fs::rename(source, target, ec);
  if (ec)
    throw TorvoError(kErrPathFileAccess, ProgramName(),
                     "썸네일을 " + Utf8Path(target) + "(으)로 옮길 수 없습니다: " + Utf8Path(source) + " (" +
                         ec.message() + ")");
}

}  // namespace torvo::upload

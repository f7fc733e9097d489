// The photo list: the animation itself, one entry per photo in frame order. The model
// owns its entries (each with its two images) and keeps the image list of thumbnails in
// step with them; a user interface shows it and asks for labels and pictures by index.
#pragma once

#include "ProjectSettings.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class CxImage;
class BackgroundCache;
struct GifCodedFrame;

namespace platform {
class Bitmap;
}

// The longer side of the picture a compact entry keeps for the list.
constexpr uint32_t THUMBNAIL_PICTURE_SIDE = 160;

// A photo of the list. Composed, it holds its frame and canvas; compact (a long list),
// only its frame coded and a small picture of the canvas.
struct PhotoEntry {
    std::unique_ptr<CxImage> gifFrame; // the canvas reduced to at most 256 colours
    // The composed canvas at 24 bits per pixel; compact, scaled to fit
    // THUMBNAIL_PICTURE_SIDE.
    std::unique_ptr<CxImage> canvas;
    // Compact: the frame as it is written (gifFrame is then null); shared with whoever
    // shows it.
    std::shared_ptr<const GifCodedFrame> codedFrame;
    int32_t imageIndex = -1; // picture of the image list, rewritten by RebuildImageList
    std::string displayName; // the file name without its folder
    std::string sourcePath; // the photo's file as it was added
    int32_t delay = -1; // its own display time (1/100 s); -1: the making's delays
    // Tells this entry from every other one the process ever made (a new entry may get
    // the address of one freed before it).
    const uint64_t id;

    PhotoEntry();
    ~PhotoEntry();
    PhotoEntry(const PhotoEntry&) = delete;
    PhotoEntry& operator=(const PhotoEntry&) = delete;
};

// A photo that could not be added, and why.
struct PhotoFailure {
    std::string path;
    std::string reason; // the reader's text, or what else went wrong
    // Memory ran short even with the photo read alone: nothing is wrong with the file,
    // but a making without it would be a wrong result.
    bool outOfMemory = false;
};

// How a batch of photos is composed.
struct AddPhotosOptions {
    // The photos are added in the order PhotoPathLess gives (a selection of files), or in
    // the order they come in.
    bool sortByPath = true;
    // Photos composed at once; 0 = one per processor core. The list and its frames are
    // the same whatever the number. With more than one, the costliest photos are begun
    // first.
    unsigned threads = 0;
    // Shared by the photos of a batch (and of later batches); null = the process-wide one.
    BackgroundCache* backgroundCache = nullptr;
    // Photos are read side by side only while the memory their reading holds (judged
    // from their headers) adds up to no more than this; 0 = DEFAULT_DECODE_BUDGET.
    uint64_t memoryBudget = 0;
    // Told after each photo: how many of the batch are done, and how many there are.
    // Called on the adding thread.
    std::function<void(size_t done, size_t total)> progress;
    // Asked before each photo is begun (from any composing thread); once it answers true
    // no further photo is begun, and those not begun are left out of the batch (they are
    // not failures). The photos already composed are added as usual, in the sorted order
    // (with several threads they need not be the first ones of it).
    std::function<bool()> stopRequested;
};

// Makes a composed entry compact: its frame coded, its canvas scaled to fit
// THUMBNAIL_PICTURE_SIDE; false (the entry as it was, why says why) when memory runs short.
bool CompactEntry(PhotoEntry& entry, std::string* why = nullptr);

// The case-insensitive order in which a selection of photos is added: bytes compared
// with ASCII letters folded, ties broken by the plain byte order.
bool PhotoPathLess(const std::string& a, const std::string& b);

class PhotoList {
public:
    // keepPictures: whether the image list holds device bitmaps of the thumbnails (a user
    // interface shows them; the command-line tool has no use for them).
    // compact: each entry keeps only its frame coded and a small picture (CompactEntry), so
    // that a list of hundreds of photos fits in memory.
    explicit PhotoList(bool keepPictures = true, bool compact = false);
    ~PhotoList();
    PhotoList(const PhotoList&) = delete;
    PhotoList& operator=(const PhotoList&) = delete;

    size_t Count() const { return entries.size(); }
    bool Compact() const { return compact; }
    PhotoEntry* Entry(size_t index) const;

    // Adds the photos of one selection in the order PhotoPathLess gives (unless the options
    // keep theirs), each composed with the settings as they are now, then rebuilds the
    // image list once. A photo for which memory ran short while others were read beside
    // it is read again alone. Returns the photos that could not be added (their count is
    // what the user is told).
    std::vector<PhotoFailure> AddPhotos(std::vector<std::string> paths,
        const ProjectSettings& settings, const AddPhotosOptions& options = {});
    // Appends a composed entry as the new last item (the image list is not rebuilt).
    void Append(std::unique_ptr<PhotoEntry> entry);

    bool IsSelected(size_t index) const;
    void SetSelected(size_t index, bool selected);
    // Deletes the selected entries; the others keep their order, and none is selected.
    void RemoveSelectedPhotos();
    // Deletes every entry and starts a new image list of width x height pictures.
    void ResetPhotoList(uint32_t width, uint32_t height);
    void RebuildImageList();
    // Moves entry a to the place before the entry that is at index t now (t != a,
    // t != a + 1, both valid); the moved entry is then the only selected one. Returns its
    // new index, or -1 when nothing moved.
    int32_t MoveEntry(size_t a, size_t t);
    // Takes the entries at the given indices (ascending, valid) out of the list, the others
    // keeping their order, and hands them over.
    std::vector<std::unique_ptr<PhotoEntry>> TakeEntries(const std::vector<size_t>& indices);
    // Puts entries back so that they stand at the given indices (ascending) afterwards;
    // false (and nothing changed) when the indices don't fit the list.
    bool InsertEntries(
        const std::vector<size_t>& indices, std::vector<std::unique_ptr<PhotoEntry>> taken);
    // Rearranges the entries: the new entry i is the old entry order[i]; false (and
    // nothing changed) unless order is a permutation of the indices. None is selected.
    bool Reorder(const std::vector<size_t>& order);

    // The label and picture requests of the list view.
    int32_t PictureIndexOf(size_t index) const;
    // Copies the display name into buffer, cut to size - 1 characters and terminated.
    bool LabelOf(size_t index, char* buffer, size_t size) const;
    size_t PictureCount() const { return pictureCount; }
    const platform::Bitmap* Picture(size_t pictureIndex) const;
    uint32_t PictureWidth() const { return pictureWidth; }
    uint32_t PictureHeight() const { return pictureHeight; }

    // Called after every change of the entries, their order or the image list.
    std::function<void()> onChanged;

private:
    void Changed();

    std::vector<std::unique_ptr<PhotoEntry>> entries;
    std::vector<bool> selected;
    bool keepPictures;
    bool compact;
    std::vector<std::unique_ptr<platform::Bitmap>> pictures;
    size_t pictureCount = 0;
    uint32_t pictureWidth = 120;
    uint32_t pictureHeight = 120;
};

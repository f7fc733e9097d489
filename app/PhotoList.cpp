#include "PhotoList.h"

#include "BatchRunner.h"
#include "Composition.h"
#include "PhotoPlan.h"
#include "image/core/CxImage.h"
#include "image/gif/GifAnimationWriter.h"
#include "platform/DeviceBitmap.h"
#include "platform/Memory.h"

#include <algorithm>
#include <atomic>
#include <cstring>

namespace {
std::atomic<uint64_t> lastEntryId { 0 };
} // namespace

PhotoEntry::PhotoEntry()
    : id(++lastEntryId)
{
}
PhotoEntry::~PhotoEntry() = default;

bool PhotoPathLess(const std::string& a, const std::string& b)
{
    const auto fold = [](unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + 32 : c; };
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; i++) {
        const int ca = fold(static_cast<unsigned char>(a[i]));
        const int cb = fold(static_cast<unsigned char>(b[i]));
        if (ca != cb)
            return ca < cb;
    }
    if (a.size() != b.size())
        return a.size() < b.size();
    return a < b;
}

PhotoList::PhotoList(bool keepPictures, bool compact)
    : keepPictures(keepPictures)
    , compact(compact)
{
}

bool CompactEntry(PhotoEntry& entry, std::string* why)
{
    if (!entry.gifFrame || !entry.canvas)
        return false;
    auto coded = std::make_shared<GifCodedFrame>();
    if (!CodeGifFrame(*entry.gifFrame, *coded, why))
        return false;
    const uint32_t width = entry.canvas->GetWidth(), height = entry.canvas->GetHeight();
    if (width > THUMBNAIL_PICTURE_SIDE || height > THUMBNAIL_PICTURE_SIDE) {
        int32_t w = 0, h = 0;
        ReducedSize(width, height, THUMBNAIL_PICTURE_SIDE, w, h);
        auto picture = std::make_unique<CxImage>();
        if (!entry.canvas->Resample(w, h, RM_AREA_AVERAGE, picture.get())) {
            platform::NoteAllocationFailure();
            if (why)
                *why = platform::OUT_OF_MEMORY_TEXT;
            return false;
        }
        entry.canvas = std::move(picture);
    }
    entry.codedFrame = std::move(coded);
    entry.gifFrame.reset();
    return true;
}

PhotoList::~PhotoList() = default;

PhotoEntry* PhotoList::Entry(size_t index) const
{
    return index < entries.size() ? entries[index].get() : nullptr;
}

void PhotoList::Changed()
{
    if (onChanged)
        onChanged();
}

void PhotoList::Append(std::unique_ptr<PhotoEntry> entry)
{
    if (!entry)
        return;
    entries.push_back(std::move(entry));
    selected.push_back(false);
}

std::vector<PhotoFailure> PhotoList::AddPhotos(std::vector<std::string> paths,
    const ProjectSettings& settings, const AddPhotosOptions& options)
{
    if (options.sortByPath)
        std::sort(paths.begin(), paths.end(), PhotoPathLess);
    const size_t total = paths.size();
    std::vector<std::unique_ptr<PhotoEntry>> made(total);
    std::vector<std::string> errors(total);

    // Each photo's header tells how it will be read, what that holds and costs.
    std::vector<PhotoPlan> plans(total);
    std::vector<BatchJob> jobs(total);
    for (size_t i = 0; i < total; i++) {
        plans[i] = PlanPhoto(paths[i], settings);
        jobs[i] = BatchJob { plans[i].cost, plans[i].memoryBytes };
    }
    BatchOptions batch;
    batch.threads = options.threads;
    batch.memoryBudget = options.memoryBudget;
    batch.progress = options.progress;
    batch.stopRequested = options.stopRequested;
    // Whether memory ran short for a photo: not a property of the photo when others were
    // read beside it.
    std::vector<char> shortOfMemory(total, 0);
    const auto compose = [&](size_t i) {
        const platform::AllocationWatch watch;
        try {
            made[i]
                = ComposeFrame(paths[i], settings, options.backgroundCache, &errors[i], &plans[i]);
            if (made[i] && compact && !CompactEntry(*made[i], &errors[i]))
                made[i].reset();
        } catch (const std::bad_alloc&) {
            platform::NoteAllocationFailure();
        }
        // A frame made while some allocation failed may lack what that was for (an alpha
        // plane, a colour profile): it is not kept.
        shortOfMemory[i] = watch.RanShort();
        if (shortOfMemory[i]) {
            made[i].reset();
            errors[i] = platform::OUT_OF_MEMORY_TEXT;
        }
    };
    const std::vector<bool> begun = RunBatch(jobs, compose, batch);
    // Again, one at a time, once the others have let go of their memory.
    for (size_t i = 0; i < total; i++) {
        if (shortOfMemory[i])
            compose(i);
    }

    std::vector<PhotoFailure> failures;
    for (size_t i = 0; i < total; i++) {
        if (made[i])
            Append(std::move(made[i]));
        else if (begun[i])
            failures.push_back(PhotoFailure { paths[i], errors[i], shortOfMemory[i] != 0 });
    }
    // Once after the last photo of the batch, whether or not it could be read.
    if (total > 0)
        RebuildImageList();
    return failures;
}

bool PhotoList::IsSelected(size_t index) const
{
    return index < selected.size() && selected[index];
}

void PhotoList::SetSelected(size_t index, bool state)
{
    if (index < selected.size())
        selected[index] = state;
}

void PhotoList::RemoveSelectedPhotos()
{
    std::vector<std::unique_ptr<PhotoEntry>> kept;
    for (size_t i = 0; i < entries.size(); i++) {
        if (!selected[i])
            kept.push_back(std::move(entries[i]));
    }
    // The removed entries (and their images) are freed here, once.
    entries = std::move(kept);
    selected.assign(entries.size(), false);
    RebuildImageList();
}

void PhotoList::ResetPhotoList(uint32_t width, uint32_t height)
{
    entries.clear();
    selected.clear();
    pictures.clear();
    pictureCount = 0;
    pictureWidth = width;
    pictureHeight = height;
    Changed();
}

void PhotoList::RebuildImageList()
{
    pictures.clear();
    pictureCount = 0;
    for (size_t i = 0; i < entries.size(); i++) {
        PhotoEntry& entry = *entries[i];
        entry.imageIndex = int32_t(i);
        if (keepPictures) {
            pictures.emplace_back(entry.canvas ? entry.canvas->MakeDeviceBitmap(nullptr) : nullptr);
        }
        pictureCount++;
    }
    Changed();
}

int32_t PhotoList::MoveEntry(size_t a, size_t t)
{
    const size_t n = entries.size();
    if (a >= n || t >= n || t == a || t == a + 1)
        return -1;
    std::unique_ptr<PhotoEntry> moving = std::move(entries[a]);
    entries.erase(entries.begin() + std::ptrdiff_t(a));
    if (a < t)
        t--;
    entries.insert(entries.begin() + std::ptrdiff_t(t), std::move(moving));
    selected.assign(n, false);
    selected[t] = true;
    RebuildImageList();
    return int32_t(t);
}

std::vector<std::unique_ptr<PhotoEntry>> PhotoList::TakeEntries(const std::vector<size_t>& indices)
{
    std::vector<std::unique_ptr<PhotoEntry>> taken;
    std::vector<std::unique_ptr<PhotoEntry>> kept;
    size_t next = 0;
    for (size_t i = 0; i < entries.size(); i++) {
        if (next < indices.size() && indices[next] == i) {
            taken.push_back(std::move(entries[i]));
            next++;
        } else {
            kept.push_back(std::move(entries[i]));
        }
    }
    entries = std::move(kept);
    selected.assign(entries.size(), false);
    RebuildImageList();
    return taken;
}

bool PhotoList::InsertEntries(
    const std::vector<size_t>& indices, std::vector<std::unique_ptr<PhotoEntry>> taken)
{
    const size_t total = entries.size() + taken.size();
    if (indices.size() != taken.size())
        return false;
    for (size_t k = 0; k < indices.size(); k++) {
        if (indices[k] >= total || (k > 0 && indices[k] <= indices[k - 1]) || !taken[k])
            return false;
    }
    std::vector<std::unique_ptr<PhotoEntry>> merged;
    merged.reserve(total);
    size_t next = 0, old = 0;
    for (size_t i = 0; i < total; i++) {
        if (next < indices.size() && indices[next] == i)
            merged.push_back(std::move(taken[next++]));
        else
            merged.push_back(std::move(entries[old++]));
    }
    entries = std::move(merged);
    selected.assign(entries.size(), false);
    RebuildImageList();
    return true;
}

bool PhotoList::Reorder(const std::vector<size_t>& order)
{
    if (order.size() != entries.size())
        return false;
    std::vector<bool> seen(order.size(), false);
    for (size_t from : order) {
        if (from >= order.size() || seen[from])
            return false;
        seen[from] = true;
    }
    std::vector<std::unique_ptr<PhotoEntry>> arranged;
    arranged.reserve(order.size());
    for (size_t from : order)
        arranged.push_back(std::move(entries[from]));
    entries = std::move(arranged);
    selected.assign(entries.size(), false);
    RebuildImageList();
    return true;
}

int32_t PhotoList::PictureIndexOf(size_t index) const
{
    const PhotoEntry* entry = Entry(index);
    return entry ? entry->imageIndex : -1;
}

bool PhotoList::LabelOf(size_t index, char* buffer, size_t size) const
{
    const PhotoEntry* entry = Entry(index);
    if (!entry || !buffer || size == 0)
        return false;
    const size_t n = std::min(entry->displayName.size(), size - 1);
    std::memcpy(buffer, entry->displayName.data(), n);
    buffer[n] = '\0';
    return true;
}

const platform::Bitmap* PhotoList::Picture(size_t pictureIndex) const
{
    return pictureIndex < pictures.size() ? pictures[pictureIndex].get() : nullptr;
}

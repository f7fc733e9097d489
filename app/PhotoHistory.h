// The photo list's undo and redo: every removal, move and addition is done through here
// and can be taken back and done again. Removed photos are held (not copied) while their
// removal can still be undone.
#pragma once

#include "PhotoList.h"

#include <cstddef>
#include <deque>
#include <memory>
#include <vector>

class PhotoHistory {
public:
    explicit PhotoHistory(PhotoList& list);
    ~PhotoHistory();
    PhotoHistory(const PhotoHistory&) = delete;
    PhotoHistory& operator=(const PhotoHistory&) = delete;

    // Removes the entries at the given indices (any order, duplicates ignored).
    void Remove(std::vector<size_t> indices);
    // Rearranges the list: the new entry i is the old entry order[i]. False when that is
    // no permutation or changes nothing.
    bool Reorder(const std::vector<size_t>& order);
    // Moves the entries at the given indices, in their order, to stand before the entry at
    // `before` now (the list's count: to the end). Returns the index the first moved entry
    // lands at, or -1 when nothing changed.
    int Move(std::vector<size_t> indices, size_t before);
    // Records that count entries were appended at first (by PhotoList::AddPhotos).
    void Added(size_t first, size_t count);
    // Forgets every step (a new animation, or a list restored).
    void Clear();

    bool CanUndo() const { return done > 0; }
    bool CanRedo() const { return done < steps.size(); }
    // Undoes or redoes one step; returns the indices of the entries it brought into the
    // list or moved (to select them), empty when there was nothing to do.
    std::vector<size_t> Undo();
    std::vector<size_t> Redo();

    // The steps kept; older ones are forgotten (and the photos they hold freed).
    static constexpr size_t MAX_STEPS = 100;

private:
    struct Step;
    void Record(std::unique_ptr<Step> step);
    std::vector<size_t> Apply(Step& step, bool forward);

    PhotoList& list;
    std::deque<std::unique_ptr<Step>> steps;
    size_t done = 0; // steps[0 .. done) are in effect
};

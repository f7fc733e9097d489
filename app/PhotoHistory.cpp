#include "PhotoHistory.h"

#include <algorithm>
#include <numeric>

// A removal or an addition (each other's inverse) of the entries at `indices`, or a
// reordering. The entries that are out of the list while the step stands are in `held`.
struct PhotoHistory::Step {
    enum class Kind { Remove, Add, Reorder } kind;
    std::vector<size_t> indices; // ascending
    std::vector<std::unique_ptr<PhotoEntry>> held;
    std::vector<size_t> order; // the new entry i is the old entry order[i]
};

PhotoHistory::PhotoHistory(PhotoList& list)
    : list(list)
{
}

PhotoHistory::~PhotoHistory() = default;

void PhotoHistory::Record(std::unique_ptr<Step> step)
{
    // A new step ends what could be redone.
    steps.erase(steps.begin() + std::ptrdiff_t(done), steps.end());
    steps.push_back(std::move(step));
    if (steps.size() > MAX_STEPS)
        steps.pop_front();
    done = steps.size();
}

void PhotoHistory::Remove(std::vector<size_t> indices)
{
    std::sort(indices.begin(), indices.end());
    indices.erase(std::unique(indices.begin(), indices.end()), indices.end());
    while (!indices.empty() && indices.back() >= list.Count())
        indices.pop_back();
    if (indices.empty())
        return;
    auto step = std::make_unique<Step>();
    step->kind = Step::Kind::Remove;
    step->indices = std::move(indices);
    step->held = list.TakeEntries(step->indices);
    Record(std::move(step));
}

bool PhotoHistory::Reorder(const std::vector<size_t>& order)
{
    std::vector<size_t> same(order.size());
    std::iota(same.begin(), same.end(), size_t(0));
    if (order == same || !list.Reorder(order))
        return false;
    auto step = std::make_unique<Step>();
    step->kind = Step::Kind::Reorder;
    step->order = order;
    Record(std::move(step));
    return true;
}

int PhotoHistory::Move(std::vector<size_t> indices, size_t before)
{
    const size_t n = list.Count();
    if (before > n)
        return -1;
    std::vector<bool> moving(n, false);
    std::vector<size_t> chosen;
    for (size_t i : indices) {
        if (i < n && !moving[i]) {
            moving[i] = true;
            chosen.push_back(i);
        }
    }
    if (chosen.empty())
        return -1;
    std::vector<size_t> order;
    order.reserve(n);
    int landed = -1;
    for (size_t i = 0; i <= n; i++) {
        if (i == before) {
            landed = int(order.size());
            order.insert(order.end(), chosen.begin(), chosen.end());
        }
        if (i < n && !moving[i])
            order.push_back(i);
    }
    return Reorder(order) ? landed : -1;
}

void PhotoHistory::Added(size_t first, size_t count)
{
    if (count == 0 || first + count > list.Count())
        return;
    auto step = std::make_unique<Step>();
    step->kind = Step::Kind::Add;
    step->indices.resize(count);
    std::iota(step->indices.begin(), step->indices.end(), first);
    Record(std::move(step));
}

void PhotoHistory::Clear()
{
    steps.clear();
    done = 0;
}

std::vector<size_t> PhotoHistory::Apply(Step& step, bool forward)
{
    switch (step.kind) {
    case Step::Kind::Reorder: {
        std::vector<size_t> order = step.order;
        if (!forward) {
            for (size_t i = 0; i < step.order.size(); i++)
                order[step.order[i]] = i;
        }
        list.Reorder(order);
        // The entries that changed place.
        std::vector<size_t> moved;
        for (size_t i = 0; i < order.size(); i++) {
            if (order[i] != i)
                moved.push_back(i);
        }
        return moved;
    }
    case Step::Kind::Remove:
    case Step::Kind::Add: {
        // Undoing a removal or redoing an addition puts the held entries back.
        const bool bringBack = (step.kind == Step::Kind::Remove) != forward;
        if (bringBack) {
            list.InsertEntries(step.indices, std::move(step.held));
            step.held.clear();
            return step.indices;
        }
        step.held = list.TakeEntries(step.indices);
        return {};
    }
    }
    return {};
}

std::vector<size_t> PhotoHistory::Undo()
{
    if (!CanUndo())
        return {};
    done--;
    return Apply(*steps[done], false);
}

std::vector<size_t> PhotoHistory::Redo()
{
    if (!CanRedo())
        return {};
    std::vector<size_t> touched = Apply(*steps[done], true);
    done++;
    return touched;
}

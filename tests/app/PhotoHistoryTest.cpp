#include "app/PhotoHistory.h"

#include <gtest/gtest.h>

namespace {

std::string Names(const PhotoList& list)
{
    std::string names;
    for (size_t i = 0; i < list.Count(); i++)
        names += list.Entry(i)->displayName;
    return names;
}

void Add(PhotoList& list, PhotoHistory& history, const std::string& names)
{
    const size_t first = list.Count();
    for (char c : names) {
        auto entry = std::make_unique<PhotoEntry>();
        entry->displayName = std::string(1, c);
        list.Append(std::move(entry));
    }
    history.Added(first, names.size());
}

} // namespace

TEST(PhotoHistory, RemovalsMovesAndAdditionsAreUndoneAndRedoneInTurn)
{
    PhotoList list(false);
    PhotoHistory history(list);
    Add(list, history, "abcde");
    const PhotoEntry* c = list.Entry(2);

    history.Remove({ 3, 1 });
    EXPECT_EQ(Names(list), "ace");
    EXPECT_EQ(history.Move({ 0 }, 3), 2); // to the end
    EXPECT_EQ(Names(list), "cea");
    EXPECT_EQ(history.Move({ 0 }, 1), -1); // in place: no step
    EXPECT_TRUE(history.Reorder({ 2, 1, 0 }));
    EXPECT_EQ(Names(list), "aec");
    Add(list, history, "f");
    EXPECT_EQ(Names(list), "aecf");

    EXPECT_EQ(history.Undo(), std::vector<size_t> {});
    EXPECT_EQ(Names(list), "aec");
    EXPECT_EQ(history.Undo(), (std::vector<size_t> { 0, 2 }));
    EXPECT_EQ(Names(list), "cea");
    history.Undo();
    EXPECT_EQ(Names(list), "ace");
    // The removed photos come back at their places, the same entries, not copies.
    EXPECT_EQ(history.Undo(), (std::vector<size_t> { 1, 3 }));
    EXPECT_EQ(Names(list), "abcde");
    EXPECT_EQ(list.Entry(2), c);
    history.Undo();
    EXPECT_EQ(Names(list), "");
    EXPECT_FALSE(history.CanUndo());

    for (int i = 0; i < 5; i++)
        history.Redo();
    EXPECT_EQ(Names(list), "aecf");
    EXPECT_FALSE(history.CanRedo());

    // A new step after an undo ends what could be redone.
    history.Undo();
    history.Remove({ 0 });
    EXPECT_FALSE(history.CanRedo());
    EXPECT_EQ(Names(list), "ec");
}

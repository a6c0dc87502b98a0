// tests/s57/llist_test.cpp: the linked list's modes, cursor, mark and ownership.

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "s57/llist.h"

namespace {

struct Item {
    int key;
    int tag;  // tells equal keys apart
};

int byKey(const void* a, const void* b) {
    const int x = static_cast<const Item*>(a)->key, y = static_cast<const Item*>(b)->key;
    return (x > y) - (x < y);
}

struct Destroy {
    void operator()(llist* l) const noexcept { llist_destroy(l); }
};
using List = std::unique_ptr<llist, Destroy>;

List make(int32_t mode, llist_compare cmp = byKey) { return List(llist_init(mode, sizeof(Item), cmp)); }

// "key/tag" of every element, head to tail, walked through the links both ways.
std::string label(const llist_node* n) {
    const auto* it = static_cast<const Item*>(n->data);
    return std::to_string(it->key).append("/").append(std::to_string(it->tag));
}
std::string join(const std::vector<std::string>& parts) {
    std::string s;
    for (const auto& p : parts) {
        if (!s.empty()) s.push_back(' ');
        s.append(p);
    }
    return s;
}
std::string forward(llist* l) {
    std::vector<std::string> parts;
    for (llist_node* n = l->head; n; n = n->next) parts.push_back(label(n));
    return join(parts);
}
std::string backward(llist* l) {
    std::vector<std::string> parts;
    for (llist_node* n = l->tail; n; n = n->prev) parts.insert(parts.begin(), label(n));
    return join(parts);
}
int keyOf(void* p) { return p ? static_cast<Item*>(p)->key : -1; }

void enterAll(llist* l, const std::vector<Item>& items) {
    for (const auto& it : items) ASSERT_EQ(llist_enter(l, &it), 0);
}

struct ModeCase {
    const char* name;
    int32_t mode;
    std::vector<Item> in;
    std::string expected;
};

const ModeCase kModes[] = {
    {"SortedPutsLaterEqualFirst", LLIST_SORTED, {{3, 0}, {1, 0}, {2, 1}, {2, 2}}, "1/0 2/2 2/1 3/0"},
    {"SortedNewMaximumBecomesTail", LLIST_SORTED, {{1, 0}, {5, 0}, {9, 0}}, "1/0 5/0 9/0"},
    {"SortedNewMinimumBecomesHead", LLIST_SORTED, {{9, 0}, {5, 0}, {1, 0}}, "1/0 5/0 9/0"},
    {"AppendKeepsOrder", LLIST_APPEND, {{3, 0}, {1, 0}, {2, 0}}, "3/0 1/0 2/0"},
    {"PrependReverses", LLIST_PREPEND, {{3, 0}, {1, 0}, {2, 0}}, "2/0 1/0 3/0"},
};

class LlistMode : public ::testing::TestWithParam<ModeCase> {};

TEST_P(LlistMode, OrdersElementsAndKeepsLinksConsistent) {
    const auto& c = GetParam();
    List l = make(c.mode);
    ASSERT_TRUE(l);
    enterAll(l.get(), c.in);
    EXPECT_EQ(forward(l.get()), c.expected);
    EXPECT_EQ(backward(l.get()), c.expected);
    EXPECT_EQ(llist_count(l.get()), int32_t(c.in.size()));
    EXPECT_EQ(llist_current(l.get()), nullptr) << "entering must not move the cursor";
}

INSTANTIATE_TEST_SUITE_P(Modes, LlistMode, ::testing::ValuesIn(kModes),
                         [](const auto& i) { return std::string(i.param.name); });

TEST(Llist, CopiesElementsOnEntry) {
    List l = make(LLIST_APPEND);
    Item it{7, 0};
    ASSERT_EQ(llist_enter(l.get(), &it), 0);
    it.key = 99;
    EXPECT_EQ(keyOf(llist_first(l.get())), 7);
    EXPECT_NE(llist_first(l.get()), static_cast<void*>(&it));
}

TEST(Llist, RefusesBadModeAndMissingCompare) {
    List bad = make(5);
    Item it{1, 0};
    testing::internal::CaptureStderr();
    EXPECT_EQ(llist_enter(bad.get(), &it), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "llist:llist_enter: Invalid llist structure.\n");
    EXPECT_EQ(llist_is_empty(bad.get()), 1);

    List nocmp = make(LLIST_SORTED, nullptr);
    testing::internal::CaptureStderr();
    EXPECT_EQ(llist_enter(nocmp.get(), &it), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "llist:llist_sorted_enter: No compare function defined\n");
    EXPECT_EQ(llist_count(nocmp.get()), 0);
    // Without a compare function the other insertions still work.
    EXPECT_EQ(llist_tail_enter(nocmp.get(), &it), 0);
    EXPECT_EQ(llist_count(nocmp.get()), 1);
}

TEST(Llist, NextPastTheEndStaysNull) {
    List l = make(LLIST_APPEND);
    enterAll(l.get(), {{1, 0}, {2, 0}});
    EXPECT_EQ(keyOf(llist_first(l.get())), 1);
    EXPECT_EQ(keyOf(llist_next(l.get())), 2);
    EXPECT_EQ(llist_next(l.get()), nullptr);
    EXPECT_EQ(llist_current(l.get()), nullptr);
    EXPECT_EQ(llist_next(l.get()), nullptr);
    EXPECT_EQ(llist_prev(l.get()), nullptr) << "no current node: nothing to step back from";
    EXPECT_EQ(keyOf(llist_last(l.get())), 2);
    EXPECT_EQ(keyOf(llist_prev(l.get())), 1);
    EXPECT_EQ(llist_prev(l.get()), nullptr);
}

TEST(Llist, EmptyListAnswersNull) {
    List l = make(LLIST_APPEND);
    EXPECT_EQ(llist_is_empty(l.get()), 1);
    EXPECT_EQ(llist_first(l.get()), nullptr);
    EXPECT_EQ(llist_last(l.get()), nullptr);
    EXPECT_EQ(llist_remove_head(l.get()), nullptr);
    EXPECT_EQ(llist_pop(l.get()), nullptr);
    testing::internal::CaptureStderr();
    EXPECT_EQ(llist_delete_current(l.get()), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "llist:llist_delete_current: No current node\n");
    EXPECT_EQ(llist_swap_mark(l.get()), nullptr);
    EXPECT_EQ(llist_count(l.get()), 0);
}

TEST(Llist, InsertAroundCurrent) {
    List l = make(LLIST_APPEND);
    enterAll(l.get(), {{1, 0}, {3, 0}});
    // No current node: after goes to the head, before to the tail.
    Item h{0, 0}, t{4, 0};
    ASSERT_EQ(llist_insert_after(l.get(), &h), 0);
    ASSERT_EQ(llist_insert_before(l.get(), &t), 0);
    EXPECT_EQ(forward(l.get()), "0/0 1/0 3/0 4/0");

    llist_first(l.get());
    llist_next(l.get());  // on 1
    Item two{2, 0}, half{0, 5};
    ASSERT_EQ(llist_insert_after(l.get(), &two), 0);
    ASSERT_EQ(llist_insert_before(l.get(), &half), 0);
    EXPECT_EQ(forward(l.get()), "0/0 0/5 1/0 2/0 3/0 4/0");
    EXPECT_EQ(backward(l.get()), forward(l.get()));
    EXPECT_EQ(keyOf(llist_current(l.get())), 1) << "the cursor stays on its node";
    EXPECT_EQ(llist_count(l.get()), 6);
}

TEST(Llist, DeleteCurrentMovesCursorAndMark) {
    List l = make(LLIST_APPEND);
    enterAll(l.get(), {{1, 0}, {2, 0}, {3, 0}});
    llist_first(l.get());
    llist_next(l.get());
    llist_set_mark(l.get());  // mark on 2
    ASSERT_EQ(llist_delete_current(l.get()), 0);
    EXPECT_EQ(keyOf(llist_current(l.get())), 3);
    llist_first(l.get());
    llist_goto_mark(l.get());
    EXPECT_EQ(keyOf(llist_current(l.get())), 3) << "the mark moved with the deleted node";
    EXPECT_EQ(forward(l.get()), "1/0 3/0");

    // Deleting the tail leaves no current node; the list stays linked.
    ASSERT_EQ(llist_delete_current(l.get()), 0);
    EXPECT_EQ(llist_current(l.get()), nullptr);
    EXPECT_EQ(forward(l.get()), "1/0");
    EXPECT_EQ(backward(l.get()), "1/0");
    EXPECT_EQ(l->tail, l->head);
}

TEST(Llist, RemoveHeadHandsOverTheCopy) {
    List l = make(LLIST_APPEND);
    enterAll(l.get(), {{1, 0}, {2, 0}});
    llist_first(l.get());
    llist_set_mark(l.get());
    void* got = llist_remove_head(l.get());
    ASSERT_NE(got, nullptr);
    EXPECT_EQ(keyOf(got), 1);
    std::free(got);
    EXPECT_EQ(keyOf(llist_current(l.get())), 2);
    llist_goto_mark(l.get());
    EXPECT_EQ(keyOf(llist_current(l.get())), 2);
    void* last = llist_pop(l.get());
    EXPECT_EQ(keyOf(last), 2);
    std::free(last);
    EXPECT_EQ(llist_is_empty(l.get()), 1);
    EXPECT_EQ(l->tail, nullptr);
    EXPECT_EQ(llist_current(l.get()), nullptr);
}

TEST(Llist, SwapMarkExchangesPositions) {
    List l = make(LLIST_APPEND);
    enterAll(l.get(), {{1, 0}, {2, 0}, {3, 0}});
    llist_first(l.get());
    llist_set_mark(l.get());
    llist_last(l.get());
    llist_node* now = llist_swap_mark(l.get());
    ASSERT_NE(now, nullptr);
    EXPECT_EQ(keyOf(now->data), 1);
    llist_goto_mark(l.get());
    EXPECT_EQ(keyOf(llist_current(l.get())), 3);
}

TEST(Llist, SortedEntryLeavesCursorWhereItWas) {
    List l = make(LLIST_SORTED);
    enterAll(l.get(), {{2, 0}, {4, 0}});
    llist_last(l.get());
    Item it{3, 0};
    ASSERT_EQ(llist_enter(l.get(), &it), 0);
    EXPECT_EQ(keyOf(llist_current(l.get())), 4);
    EXPECT_EQ(keyOf(llist_prev(l.get())), 3);
}

TEST(Llist, NullListIsHarmless) {
    Item it{1, 0};
    EXPECT_EQ(llist_tail_enter(nullptr, &it), -1);
    EXPECT_EQ(llist_first(nullptr), nullptr);
    EXPECT_EQ(llist_is_empty(nullptr), 1);
    EXPECT_EQ(llist_count(nullptr), 0);
    llist_destroy(nullptr);
}

TEST(Llist, DestroyFreesAWholeList) {
    // Leaks show under the sanitizer build.
    llist* l = llist_init(LLIST_SORTED, sizeof(Item), byKey);
    ASSERT_NE(l, nullptr);
    for (int i = 0; i < 1000; ++i) {
        Item it{(i * 7919) % 1000, i};
        ASSERT_EQ(llist_enter(l, &it), 0);
    }
    int prev = -1;
    for (void* p = llist_first(l); p; p = llist_next(l)) {
        EXPECT_LE(prev, keyOf(p));
        prev = keyOf(p);
    }
    EXPECT_EQ(llist_count(l), 1000);
    llist_destroy(l);
}

}  // namespace

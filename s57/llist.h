// s57/llist.h: the converter's doubly linked list of fixed-size elements.
// Elements are copied in (elemSize bytes each); the list owns every node and copy. The list keeps a
// cursor (`current`) and one saved position (`mark`). Diagnostics go to standard error, prefixed
// "llist:<function>: "; a failed operation leaves the list as it was. Every function accepts a null
// list and then does nothing (null / 0 results).
#pragma once

#include <cstdint>

// Orders two elements as qsort comparators do: negative, zero or positive.
typedef int (*llist_compare)(const void* a, const void* b);

enum llist_mode : int32_t {
    LLIST_SORTED = 0,   // by compare; a new element goes before existing equal ones
    LLIST_APPEND = 1,   // at the tail
    LLIST_PREPEND = 2,  // at the head
};

struct llist_node {
    void* data;  // the list's own copy of elemSize bytes
    llist_node* prev;
    llist_node* next;
};

struct llist {
    int32_t mode;
    int32_t elemSize;
    llist_compare compare;
    llist_node* head;  // null exactly when the list is empty
    llist_node* tail;
    llist_node* current;
    llist_node* mark;
    int32_t count;
};

// A new empty list; null (with a message) when memory runs out or elemSize is negative.
// Free it with llist_destroy.
llist* llist_init(int32_t mode, int32_t elemSize, llist_compare compare);

// Frees every node, every element copy and the header.
void llist_destroy(llist* list);

// The insertions copy elemSize bytes from element and return 0, or -1 (with a message) when the
// list, its mode or memory fail; `current` stays where it was.
[[nodiscard]] int llist_enter(llist* list, const void* element);         // by the list's mode
[[nodiscard]] int llist_sorted_enter(llist* list, const void* element);  // needs a compare function
[[nodiscard]] int llist_head_enter(llist* list, const void* element);
[[nodiscard]] int llist_tail_enter(llist* list, const void* element);
[[nodiscard]] int llist_insert_after(llist* list, const void* element);   // no current: becomes the head
[[nodiscard]] int llist_insert_before(llist* list, const void* element);  // no current: becomes the tail

// A node holding a fresh copy of element, linked nowhere; null when an allocation fails.
llist_node* llist_create_node(llist* list, const void* element);

// Unlinks and frees the current node; `current` (and `mark`, when it was there) moves to the next
// node. 0, or -1 without a current node.
[[nodiscard]] int llist_delete_current(llist* list);

// Unlinks the head and returns its element copy, which the caller then frees with free(); null for
// an empty list. `current` and `mark` move on when they were on the head.
void* llist_remove_head(llist* list);
void* llist_pop(llist* list);

// Cursor moves; each returns the new current element, or null (and then no node is current).
void* llist_first(llist* list);
void* llist_last(llist* list);
void* llist_next(llist* list);  // null, and stays null, once past the end
void* llist_prev(llist* list);
void* llist_current(llist* list);

void llist_set_mark(llist* list);   // mark := current
void llist_goto_mark(llist* list);  // current := mark
llist_node* llist_swap_mark(llist* list);  // exchanges current and mark; the new current node

int llist_is_empty(llist* list);  // 1 when the list has no node (or there is no list), else 0
int32_t llist_count(llist* list);

// s57/llist.cpp: the converter's doubly linked list (see llist.h).
// Element copies are malloc'd because llist_remove_head hands them to the caller, who frees them.

#include "s57/llist.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Links a detached node in before `at`; at == null appends at the tail.
void linkBefore(llist* list, llist_node* node, llist_node* at) {
    node->next = at;
    node->prev = at ? at->prev : list->tail;
    if (node->prev) node->prev->next = node;
    else list->head = node;
    if (at) at->prev = node;
    else list->tail = node;
    ++list->count;
}

// Links a detached node in after `at`; at == null makes it the head.
void linkAfter(llist* list, llist_node* node, llist_node* at) {
    linkBefore(list, node, at ? at->next : list->head);
}

// Takes a node out of the chain; the cursor and the mark move to its successor.
void unlink(llist* list, llist_node* node) {
    if (node->prev) node->prev->next = node->next;
    else list->head = node->next;
    if (node->next) node->next->prev = node->prev;
    else list->tail = node->prev;
    if (list->current == node) list->current = node->next;
    if (list->mark == node) list->mark = node->next;
    node->prev = node->next = nullptr;
    --list->count;
}

void* dataOf(const llist_node* node) { return node ? node->data : nullptr; }

// Creates and links a copy, or reports and returns -1.
int insertCopy(llist* list, const void* element, bool before, llist_node* at) {
    llist_node* node = llist_create_node(list, element);
    if (!node) return -1;
    if (before) linkBefore(list, node, at);
    else linkAfter(list, node, at);
    return 0;
}

}  // namespace

llist* llist_init(int32_t mode, int32_t elemSize, llist_compare compare) {
    if (elemSize < 0) {
        std::fprintf(stderr, "llist:llist_init: Invalid element size\n");
        return nullptr;
    }
    auto* list = static_cast<llist*>(std::calloc(1, sizeof(llist)));
    if (!list) {
        std::fprintf(stderr, "llist:llist_init: Memory allocation error\n");
        return nullptr;
    }
    list->mode = mode;
    list->elemSize = elemSize;
    list->compare = compare;
    return list;
}

void llist_destroy(llist* list) {
    if (!list) return;
    llist_node* node = list->head;
    while (node) {
        llist_node* next = node->next;
        std::free(node->data);
        std::free(node);
        node = next;
    }
    std::memset(list, 0, sizeof(*list));
    std::free(list);
}

llist_node* llist_create_node(llist* list, const void* element) {
    if (!list || (!element && list->elemSize > 0)) {
        std::fprintf(stderr, "llist:llist_create_node: No element\n");
        return nullptr;
    }
    auto* node = static_cast<llist_node*>(std::calloc(1, sizeof(llist_node)));
    // malloc(0) may answer null; one byte keeps a zero-size element distinct from a failure.
    void* data = std::malloc(list->elemSize > 0 ? std::size_t(list->elemSize) : 1);
    if (!node || !data) {
        std::free(node);
        std::free(data);
        std::fprintf(stderr, "llist:llist_create_node: Memory allocation error\n");
        return nullptr;
    }
    if (list->elemSize > 0) std::memcpy(data, element, std::size_t(list->elemSize));
    node->data = data;
    return node;
}

int llist_enter(llist* list, const void* element) {
    if (list) {
        switch (list->mode) {
        case LLIST_SORTED: return llist_sorted_enter(list, element);
        case LLIST_APPEND: return llist_tail_enter(list, element);
        case LLIST_PREPEND: return llist_head_enter(list, element);
        default: break;
        }
    }
    std::fprintf(stderr, "llist:llist_enter: Invalid llist structure.\n");
    return -1;
}

int llist_sorted_enter(llist* list, const void* element) {
    if (!list) return -1;
    if (!list->compare) {
        std::fprintf(stderr, "llist:llist_sorted_enter: No compare function defined\n");
        return -1;
    }
    if (!element && list->elemSize > 0) return insertCopy(list, element, true, nullptr);  // reports
    // Walk past every node the new element sorts after, so it lands before its equals.
    llist_node* at = list->head;
    while (at && list->compare(element, at->data) > 0) at = at->next;
    return insertCopy(list, element, true, at);
}

int llist_head_enter(llist* list, const void* element) {
    if (!list) return -1;
    return insertCopy(list, element, true, list->head);
}

int llist_tail_enter(llist* list, const void* element) {
    if (!list) return -1;
    return insertCopy(list, element, false, list->tail);
}

int llist_insert_after(llist* list, const void* element) {
    if (!list) return -1;
    return insertCopy(list, element, false, list->current);
}

int llist_insert_before(llist* list, const void* element) {
    if (!list) return -1;
    return insertCopy(list, element, true, list->current);
}

int llist_delete_current(llist* list) {
    if (!list) return -1;
    llist_node* node = list->current;
    if (!node) {
        std::fprintf(stderr, "llist:llist_delete_current: No current node\n");
        return -1;
    }
    unlink(list, node);
    std::free(node->data);
    std::free(node);
    return 0;
}

void* llist_remove_head(llist* list) {
    if (!list || !list->head) return nullptr;
    llist_node* node = list->head;
    unlink(list, node);
    void* data = node->data;
    std::free(node);
    return data;
}

void* llist_pop(llist* list) { return llist_remove_head(list); }

void* llist_first(llist* list) {
    if (!list) return nullptr;
    list->current = list->head;
    return dataOf(list->current);
}

void* llist_last(llist* list) {
    if (!list) return nullptr;
    list->current = list->tail;
    return dataOf(list->current);
}

void* llist_next(llist* list) {
    if (!list || !list->current) return nullptr;
    list->current = list->current->next;
    return dataOf(list->current);
}

void* llist_prev(llist* list) {
    if (!list || !list->current) return nullptr;
    list->current = list->current->prev;
    return dataOf(list->current);
}

void* llist_current(llist* list) { return list ? dataOf(list->current) : nullptr; }

void llist_set_mark(llist* list) {
    if (list) list->mark = list->current;
}

void llist_goto_mark(llist* list) {
    if (list) list->current = list->mark;
}

llist_node* llist_swap_mark(llist* list) {
    if (!list) return nullptr;
    llist_node* was = list->current;
    list->current = list->mark;
    list->mark = was;
    return list->current;
}

int llist_is_empty(llist* list) { return (!list || !list->head) ? 1 : 0; }

int32_t llist_count(llist* list) { return list ? list->count : 0; }

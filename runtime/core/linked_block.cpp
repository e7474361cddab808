// Linked blocks: BlockHeap blocks on doubly linked lists whose owner holds the newest block.
//
// Invariants: a list's head has no prev; following next from the head visits the blocks newest
// first, following prev from the oldest visits them in the order they were linked. The header
// lies directly before the payload, so unlinking needs no search. The list's owner serialises
// changes (its own lock, or start-up on the main thread); these functions take no lock.
#include "core.h"

#include <assert.h>

void* LinkedBlockAlloc(LinkedBlock** list, uint32_t size) {
  if (size > UINT32_MAX - sizeof(LinkedBlock)) return nullptr;  // does the header still fit?
  auto* block = static_cast<LinkedBlock*>(
      HeapAlloc(BlockHeap, HEAP_ZERO_MEMORY, sizeof(LinkedBlock) + size));
  if (block == nullptr) return nullptr;
  LinkedBlock* head = *list;
  if (head != nullptr) {
    assert(head->prev == nullptr);
    head->prev = block;
    block->next = head;
  }
  *list = block;
  return LinkedBlockPayload(block);
}

void LinkedBlockFree(LinkedBlock** list, void* payload) {
  LinkedBlock* block = LinkedBlockOf(payload);
  if (block == *list) {
    *list = block->next;
    if (block->next != nullptr) block->next->prev = nullptr;
  } else {
    assert(block->prev != nullptr);  // only the head has no newer neighbour
    block->prev->next = block->next;
    if (block->next != nullptr) block->next->prev = block->prev;
  }
  HeapFree(BlockHeap, 0, block);
}

// The collector: a stop-the-world mark, compact and sweep over the node zone
// and the heap zone.
//
// Nodes never move, so a Value stays valid for as long as its node is
// reachable. Heap bytes move at every collection: the indirect chain is
// walked in address order and every kept object slides down over the dead
// ones, keeping its place in the order. The node free list is rebuilt from
// scratch by every sweep.
//
// Roots, in marking order: the value and owner words of every symbol
// record, the current object, the shared empty string, the structure
// description table, a pending exit and the last error's culprit, the
// chain's head and tail, the native stack (conservatively), the Lisp stack
// (precisely), then each installed module's roots through its descriptor
// (core/module.hpp), in list order. Marking never recurses: pairs are followed along their cdrs in a
// loop and everything else goes through an explicit work list, so neither
// long lists nor deeply nested cars cost native stack.
//
// Permanent nodes (symbol names, natives, defined functions) are never
// freed and their heap objects always stay, but marking still enters them
// once per collection: a permanent list may have been given fresh values by
// set-car!, and those must live as long as it does.
#pragma once
#include <memory>

#include "core/memory.hpp"

namespace core {

// Marks a Value and everything reachable from it. Only meaningful during a
// collection: the marking operations of owned objects, the scheduler and the
// object system call it for the Values they hold.
void mark_value(Value v);

// The byte size of the heap object of a chain node, by its header (0 when
// the header is not one that lives on the chain).
uint32_t chain_object_size(uint32_t node_offset);

// Whether the node of a node-backed Value is marked (or permanent). For the
// object system's marking hooks and for tests.
bool node_marked(Value v);

// The statistics of the heap as the last collection left it.
struct HeapCensus {
  uint32_t live_nodes;   // nodes not on the free list
  uint32_t free_nodes;
  uint32_t objects;      // indirect objects on the chain
  uint32_t heap_bytes;   // heap top - heap start
};
HeapCensus heap_census();

// Pointer boxes of sub-kind 4: a box that owns a native object. The
// collector asks the object to mark its Values while the box is reachable
// and deletes it, exactly once, when the box is swept.
Value box_owned(std::unique_ptr<OwnedObject> object);
// The object a box of sub-kind 4 owns, or nullptr.
OwnedObject* owned_object(Value box);
// Deletes the object a box owns now and kills the box: owned_object answers
// nullptr for it from then on, and its sweep releases nothing.
void release_owned(Value box);

extern const Module kCollectorModule;

}  // namespace core

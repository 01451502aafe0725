// Record databases for Lisp: the chain of open databases, records held in
// handles, value records, and the primitives over them.
//
// A database in Lisp is a pointer box of sub-kind "database" whose address
// is an id of the module's table of open databases (with a generation: a
// box kept after its database closed is storage error 4). A record is a
// box of sub-kind "record" whose address is the handle of its data, 0 when
// a lookup found nothing; a record is found again by its handle.
#pragma once
#include <cstddef>

#include "core/module.hpp"

namespace storage {

extern const core::Module kDatabasesModule;

// Closes every open database, newest first, writing each one's changes.
// Each close is guarded on its own: a database whose changes cannot be
// written (a full disk, a Lisp error) is reported on standard error and
// closed all the same, and the others still close. Answers how many could
// not be written. Runs at shutdown; also safe to call from any point where
// the machine is whole (an orderly exit on a signal), and more than once.
int close_all_databases();

// How many databases are open.
size_t open_database_count();

}  // namespace storage

// Configured objects: configurations, the three base classes of interface
// objects and their native records.
//
// A configuration is a plain list (header properties children . pages). An
// opened object holds a native record in its native part (a pointer box
// that owns the record; the box dies with the record). The record's virtual
// functions are the table of native operations: the window classes derive
// their records from PersistentRecord and replace the operations they do
// differently, and give their classes a native constructor that makes one.
#pragma once
#include <memory>

#include "core/collector.hpp"
#include "core/runtime.hpp"

namespace objects {

// The record of an obj-static-data object: its name.
class StaticDataRecord : public core::OwnedObject {
 public:
  core::Value name = core::kNil;

  void mark_values() override;
  // Sets up the name from an initialisation property list: here, `name`
  // from its :name property when it has one.
  virtual void setup_name(core::Value properties);
};

// The record of an obj-persistence or obj-interface object. The operations
// come in the order of the native table; these are the defaults.
class PersistentRecord : public StaticDataRecord {
 public:
  core::Value object = core::kNil;        // the Lisp object the record belongs to
  core::Value constructors = core::kNil;  // the constructor list

  void mark_values() override;
  // The naming preferences: :name, the own configuration's header name,
  // standard-name.
  void setup_name(core::Value properties) override;
  // Copies the object's name into the record and records the object.
  virtual void open();
  virtual void unused() {}
  virtual void show() {}
  virtual void hide() {}
  virtual void enable() {}
  virtual void disable() {}
  virtual bool enabled() { return true; }
  virtual void hilite() {}
  virtual void dehilite() {}
  virtual core::Value get_title() { return core::kNil; }
  virtual void set_title(core::Value text, int flag) {}
  // Builds the constructor list from an initialisation property list.
  virtual void setup_constructor(core::Value properties);
};

// Boxes a new record as a native part (error 9 with nil when memory is
// short). For native constructors.
core::Value box_record(std::unique_ptr<StaticDataRecord> record);

// The record of an opened object, or error 2 with the object.
StaticDataRecord& record_of(core::Value object);
PersistentRecord& persistent_record_of(core::Value object);

// A property of an object as its native half reads it: the value of its
// slot of that name, else the name's keyword in its constructor list, else
// nil (also for a non-object).
core::Value property_of(core::Value object, core::Value name);

// The parts of a configuration and of a header.
core::Value config_header(core::Value config);
core::Value config_properties(core::Value config);
core::Value config_children(core::Value config);
core::Value header_name(core::Value header);

extern const core::Module kConfigsModule;

}  // namespace objects

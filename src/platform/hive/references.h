// Everything in a hive's bins that something refers to, found by one walk of every reference
// the hive holds: what a commit must neither free, nor wipe, nor reuse.
#pragma once

#include <cstdint>

#include "platform/hive/reader.h"
#include "platform/hive/space.h"
#include "platform/hive/writer.h"
#include "platform/registry.h"

namespace platform::hive {

// The stretches of the bins that the hive refers to once `changes` are written, in `out`.
//
// The walk begins at the root key and follows every reference a key holds: its parent, its
// security cell (and from there the ring of all security cells), its class name, its subkey
// list (leaves and indexes of lists, each followed whatever its depth), its value list and
// values, their data, big-data cells, segment lists and segments. A key that the changes touch
// leads to the values it keeps, not to those it gives up nor to its old list. A reference covers
// what it leads to as far as the size field found there says, whatever that is: an offset into
// the middle of a cell covers the rest of that cell and beyond, one to a free cell covers that
// cell, and a size field that reaches past the bins covers all of them after it. A value's data
// and its segments are cells to read, not to follow: a reference to them covers what a reader
// takes from them, its size field and the data, without the walk reading them. Each key and
// security cell is followed once, so a cycle ends; a damaged hive that would lead the walk to
// more entries than its bins can hold is cross-linked beyond sense, as is one where something
// other than the key itself leads into the fields of a key that the commit rewrites: both give
// RegistryCorrupt.
Status referencesAfter(const MappedHive& hive, const HiveChanges& changes, Coverage& out);

} // namespace platform::hive

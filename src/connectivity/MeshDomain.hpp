#pragma once
// The meshes the connectivity coder can carry: one connected, closed, manifold,
// consistently oriented triangle mesh of any genus whose vertex indices 0 .. vmax()
// are all used. The compressor runs this check on its corner table before the walk,
// which would otherwise read outside its tables on any other mesh.

#include "connectivity/CornerTable.hpp"

namespace meshcodec {

// Throws OutOfDomain naming the first offending triangle, vertex or edge, checked in
// this order: an empty list; a triangle that repeats a vertex; a vertex index used by
// no triangle; an edge that is a border, shared by more than two triangles or used
// twice in the same direction (first corner in corner order); a vertex whose
// triangles form more than one fan; a triangle not connected to triangle 0. Edge
// directions are taken from the pairing, which CornerTable(tris) only ever makes
// between an edge and its reverse.
void checkMeshDomain(const CornerTable& table);

}  // namespace meshcodec

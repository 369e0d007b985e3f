// Structural hashing of schema trees into a SipHash-1-3 byte stream.
#pragma once

#include "schema/node.h"
#include "schema/siphash.h"

namespace qx {

// Equal trees (schema_node_eq) write equal streams.
void hash_schema_node(const SchemaNode& node, SipHasher13& hasher);
void hash_item_shape(const ItemShape& shape, SipHasher13& hasher);

}  // namespace qx

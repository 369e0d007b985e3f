// Coarse classification of schema nodes: top-level value classes and base Python types.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "schema/node.h"

namespace qx {

// A set of top-level value classes, one bit each; kAllClasses is every value.
using KindClasses = uint8_t;
inline constexpr KindClasses kClassNone = 0x01;
inline constexpr KindClasses kClassBool = 0x02;
inline constexpr KindClasses kClassInt = 0x04;  // ints that are not bools
inline constexpr KindClasses kClassFloat = 0x08;
inline constexpr KindClasses kClassStr = 0x10;
inline constexpr KindClasses kClassBytes = 0x20;
inline constexpr KindClasses kClassOther = 0x40;
inline constexpr KindClasses kAllClasses = 0x7F;

// The mask of a node when its structure alone fixes it. `opaque` is set when
// it does not (then `classes` means nothing). Spends no budget, asks nobody.
struct KindMask {
  bool opaque = false;
  KindClasses classes = 0;
};
KindMask kind_classes(const SchemaNode& node);

// Whether a node's mask is read from its members or child: Union,
// Intersection and Complement. Every other kind fixes its mask by itself.
inline bool mask_from_parts(NodeKind kind) {
  return kind == NodeKind::Union || kind == NodeKind::Intersection || kind == NodeKind::Complement;
}

// The mask a kind fixes by itself: that of a scalar kind, opaque for every
// other (a mask that is unknown, or read from the node's parts).
inline KindMask kind_mask(NodeKind kind) {
  switch (kind) {
    case NodeKind::Anything:
      return {false, kAllClasses};
    case NodeKind::Nothing:
      return {false, 0};
    case NodeKind::NoneType:
      return {false, kClassNone};
    case NodeKind::Bool:
      return {false, kClassBool};
    case NodeKind::Int:
      return {false, static_cast<KindClasses>(kClassBool | kClassInt)};
    case NodeKind::Float:
      return {false, kClassFloat};
    case NodeKind::Str:
      return {false, kClassStr};
    case NodeKind::Bytes:
      return {false, kClassBytes};
    case NodeKind::Any:
    case NodeKind::Literal:
    case NodeKind::Sequence:
    case NodeKind::Set:
    case NodeKind::FrozenSet:
    case NodeKind::Record:
    case NodeKind::Union:
    case NodeKind::Intersection:
    case NodeKind::Complement:
    case NodeKind::Instance:
    case NodeKind::Object:
    case NodeKind::Refinement:
    case NodeKind::Ref:
    case NodeKind::Placeholder:
      return {true, 0};
  }
  return {true, 0};
}

// kind_classes of `node`, reading the mask of each member or child through
// `child_mask` (kind_classes itself, or a bounded reading of it). Members
// are read in order and the first opaque one ends the reading.
template <class ChildMask>
KindMask kind_classes_with(const SchemaNode& node, ChildMask child_mask) {
  if (node.kind == NodeKind::Union || node.kind == NodeKind::Intersection) {
    const bool any = node.kind == NodeKind::Union;
    KindClasses classes = any ? 0 : kAllClasses;
    for (const SchemaNode& m : node.members()) {
      const KindMask k = child_mask(m);
      if (k.opaque) return {true, 0};
      classes = any ? classes | k.classes : classes & k.classes;
    }
    return {false, classes};
  }
  if (node.kind == NodeKind::Complement) {
    const KindMask k = child_mask(node.child());
    if (k.opaque) return {true, 0};
    return {false, static_cast<KindClasses>(kAllClasses & ~k.classes)};
  }
  return kind_mask(node.kind);
}

// The one Python type every value of a node has, when there is one.
enum class BaseKind : uint8_t {
  None = 0,
  Bool = 1,
  Int = 2,
  Float = 3,
  Str = 4,
  Bytes = 5,
  List = 6,
  Tuple = 7,
  Set = 8,
  FrozenSet = 9,
  Dict = 10,
  Unknown = 255,
};
// Looks through Refinement bases.
BaseKind base_kind(const SchemaNode& node);

// True when no value can belong to both nodes.
bool disjoint_base_kinds(const SchemaNode& x, const SchemaNode& y);

// Finds whether some two of the nodes added are disjoint by
// disjoint_base_kinds without testing every pair. That test reads only
// whether a node is Nothing itself and the node's base kind, so nodes of one
// base kind are interchangeable: one representative per base kind, plus any
// Nothing, decide it. Linear in the nodes, so wide unions and intersections
// stay cheap. The nodes added are borrowed until found() is asked.
class DisjointPairFinder {
 public:
  void add(const SchemaNode& node);
  bool found() const;

 private:
  // The eleven known base kinds, then one slot for the unknown.
  static constexpr size_t kSlots = static_cast<size_t>(BaseKind::Dict) + 2;
  std::array<const SchemaNode*, kSlots> reps_{};
  const SchemaNode* first_ = nullptr;
  const SchemaNode* second_ = nullptr;
  const SchemaNode* nothing_ = nullptr;
};

}  // namespace qx

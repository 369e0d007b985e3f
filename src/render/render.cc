// Annotation text: renders a schema tree as the type expression that builds it.
#include "render/render.h"

#include <string>
#include <vector>

#include "absl/container/flat_hash_set.h"
#include "absl/strings/str_cat.h"
#include "errors/texts.h"
#include "py/stack.h"
#include "text/quote.h"

namespace qx {

namespace {

// Past this depth a subtree is written "...": definitions are written in
// place, so the text of a deep chain of them would otherwise grow unbounded.
constexpr uint64_t kMaxRenderDepth = 200;

// What every node of one rendering reads. `visited` holds the definitions
// being written on the current path from the root; it is empty between calls.
struct RenderContext {
  const ConstantsPool& pool;
  const std::vector<SchemaNode>& definitions;
  absl::flat_hash_set<uint64_t> visited;
};

void render_node(const SchemaNode& node, RenderContext& cx, uint64_t depth, std::string& out);

void render_pooled_repr(const ConstantsPool& pool, uint64_t index, std::string& out) {
  PyObject* obj = pool.get(index);
  out += obj != nullptr ? repr_text(obj) : "<unknown>";
}

void render_class_name(const ConstantsPool& pool, uint64_t index, std::string& out) {
  PyObject* cls = pool.get(index);
  out += cls != nullptr ? class_name_text(cls) : "<unknown>";
}

// Writes each member's text, `separator` between them.
void render_node_list(const std::vector<SchemaNode>& nodes, std::string_view separator,
                      RenderContext& cx, uint64_t depth, std::string& out) {
  for (size_t i = 0; i < nodes.size(); ++i) {
    if (i != 0) out += separator;
    render_node(nodes[i], cx, depth, out);
  }
}

// Writes the fixed items of a sequence, ", " between them.
void render_node_refs(const std::vector<const SchemaNode*>& nodes, RenderContext& cx,
                      uint64_t depth, std::string& out) {
  for (size_t i = 0; i < nodes.size(); ++i) {
    if (i != 0) out += ", ";
    render_node(*nodes[i], cx, depth, out);
  }
}

// Writes the declared fields, ", " between them.
void render_record_fields(const std::vector<RecordField>& fields, RenderContext& cx, uint64_t depth,
                          std::string& out) {
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i != 0) out += ", ";
    const RecordField& f = fields[i];
    absl::StrAppend(&out, "'", f.name, f.required ? "" : "?", "': ");
    render_node(f.node, cx, depth, out);
  }
}

void render_sequence(const SchemaNode& node, RenderContext& cx, uint64_t depth, std::string& out) {
  ShapeView view;
  if (!item_shape_prefix_rest(node.shape(), view)) {
    out += "<sequence>";
    return;
  }
  if (view.items.empty() && view.rest != nullptr) {
    out += node.tuple ? "tuple[" : "list[";
    render_node(*view.rest, cx, depth, out);
    out += node.tuple ? ", ...]" : "]";
    return;
  }
  out += node.tuple ? "tuple[" : "[";
  render_node_refs(view.items, cx, depth, out);
  if (view.rest != nullptr) {
    out += ", ";
    render_node(*view.rest, cx, depth, out);
    out += ", ...";
  }
  out += "]";
}

void render_record(const SchemaNode& node, RenderContext& cx, uint64_t depth, std::string& out) {
  if (node.fields().empty() && node.clauses().size() == 1) {
    out += "dict[";
    render_node(node.clauses()[0].key, cx, depth, out);
    out += ", ";
    render_node(node.clauses()[0].value, cx, depth, out);
    out += "]";
    return;
  }
  out += "{";
  render_record_fields(node.fields(), cx, depth, out);
  bool first = node.fields().empty();
  for (const Clause& c : node.clauses()) {
    if (!first) out += ", ";
    first = false;
    // Only Anything on both sides is the open-record mark; Any is a type.
    if (c.key.kind == NodeKind::Anything && c.value.kind == NodeKind::Anything) {
      out += "...";
      continue;
    }
    render_node(c.key, cx, depth, out);
    out += ": ";
    render_node(c.value, cx, depth, out);
  }
  out += "}";
}

void render_constraint(const Constraint& c, const ConstantsPool& pool, std::string& out) {
  const char* name = "";
  switch (c.kind) {
    case ConstraintKind::Ge:
      name = "Ge(";
      break;
    case ConstraintKind::Gt:
      name = "Gt(";
      break;
    case ConstraintKind::Le:
      name = "Le(";
      break;
    case ConstraintKind::Lt:
      name = "Lt(";
      break;
    case ConstraintKind::MultipleOf:
      name = "MultipleOf(";
      break;
    case ConstraintKind::MinLen:
      absl::StrAppend(&out, "MinLen(", c.value, ")");
      return;
    case ConstraintKind::MaxLen:
      absl::StrAppend(&out, "MaxLen(", c.value, ")");
      return;
    case ConstraintKind::Predicate:
      out += "Predicate(...)";
      return;
    case ConstraintKind::Regex:
      absl::StrAppend(&out, "Regex(", quote_text(c.pattern), ")");
      return;
  }
  out += name;
  render_pooled_repr(pool, c.value, out);
  out += ")";
}

// A reference is written as its definition, except inside that definition's
// own text, where it reads "...".
void render_ref(uint64_t index, RenderContext& cx, uint64_t depth, std::string& out) {
  if (!cx.visited.insert(index).second) {
    out += "...";
    return;
  }
  if (index < cx.definitions.size()) {
    render_node(cx.definitions[index], cx, depth, out);
  } else {
    out += "...";
  }
  cx.visited.erase(index);
}

void render_node(const SchemaNode& node, RenderContext& cx, uint64_t depth, std::string& out) {
  ensure_stack();
  if (depth > kMaxRenderDepth) {
    out += "...";
    return;
  }
  const uint64_t next = depth + 1;
  switch (node.kind) {
    case NodeKind::Anything:
      out += "anything";
      return;
    case NodeKind::Any:
      out += "Any";
      return;
    case NodeKind::Nothing:
      out += "nothing";
      return;
    case NodeKind::NoneType:
      out += "None";
      return;
    case NodeKind::Bool:
      out += "bool";
      return;
    case NodeKind::Int:
      out += "int";
      return;
    case NodeKind::Float:
      out += "float";
      return;
    case NodeKind::Str:
      out += "str";
      return;
    case NodeKind::Bytes:
      out += "bytes";
      return;
    case NodeKind::Literal:
      out += "Literal[";
      render_pooled_repr(cx.pool, node.index, out);
      out += "]";
      return;
    case NodeKind::Sequence:
      render_sequence(node, cx, next, out);
      return;
    case NodeKind::Set:
      out += "set[";
      render_node(node.child(), cx, next, out);
      out += "]";
      return;
    case NodeKind::FrozenSet:
      out += "frozenset[";
      render_node(node.child(), cx, next, out);
      out += "]";
      return;
    case NodeKind::Record:
      render_record(node, cx, next, out);
      return;
    case NodeKind::Union:
      render_node_list(node.members(), " | ", cx, next, out);
      return;
    case NodeKind::Intersection:
      out += "intersection(";
      render_node_list(node.members(), ", ", cx, next, out);
      out += ")";
      return;
    case NodeKind::Complement:
      out += "complement(";
      render_node(node.child(), cx, next, out);
      out += ")";
      return;
    case NodeKind::Instance:
    case NodeKind::Object:
      render_class_name(cx.pool, node.index, out);
      return;
    case NodeKind::Refinement:
      out += "Annotated[";
      render_node(node.child(), cx, next, out);
      for (const Constraint& c : node.constraints()) {
        out += ", ";
        render_constraint(c, cx.pool, out);
      }
      out += "]";
      return;
    case NodeKind::Ref:
      render_ref(node.index, cx, next, out);
      return;
    case NodeKind::Placeholder:
      out += "...";
      return;
  }
}

}  // namespace

Result<Ref> repr_impl(const CompiledSchema& schema) {
  RenderContext cx{schema.pool, schema.definitions, {}};
  std::string text;
  render_node(schema.root, cx, 0, text);
  // Rendering never fails: a byte sequence that is not UTF-8 (a field name
  // kept as the builder found it) becomes U+FFFD rather than an error.
  return checked(
      PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace"));
}

}  // namespace qx

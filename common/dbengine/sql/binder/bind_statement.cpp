// A statement: its PARAMETERS declaration, its kind's binder, and the order of
// its named parameters.
#include <algorithm>

#include "dbengine/sql/binder/bind_context.h"
#include "dbengine/sql/binder/binder.h"

namespace oskara::db::sql {
namespace binding {

const ColumnInfo* findColumn(const bound::Source& source, std::string_view name) {
  for (const ColumnInfo& c : source.columns) {
    if (sameName(c.name, name)) return &c;
  }
  return nullptr;
}

const bound::Source* findSource(const bound::FromClause& from, std::string_view exposedName) {
  for (const auto& s : from.sources) {
    if (!s->exposedName.empty() && sameName(s->exposedName, exposedName)) return s.get();
  }
  return nullptr;
}

void Binder::declare(const std::vector<ast::ParameterDecl>& decls) {
  for (const auto& d : decls) {
    auto it = std::find_if(ctx_.parameters.begin(), ctx_.parameters.end(),
                           [&](const ParameterEntry& p) { return sameName(p.name, d.name); });
    if (it == ctx_.parameters.end()) {
      ctx_.parameters.push_back({d.name, d.type, true});
    } else if (!it->declared) {
      it->type = d.type;
      it->declared = true;
    }
  }
}

bound::Statement Binder::statement(const ast::Statement& st) {
  bound::Statement out;
  out.kind = st.kind;
  declare(st.parameters);
  switch (st.kind) {
    case StatementKind::Select: out.select = select(*st.select, nullptr); break;
    case StatementKind::Insert: out.insert = insert(*st.insert); break;
    case StatementKind::Update: out.update = update(*st.update); break;
    case StatementKind::Delete: out.remove = remove(*st.remove); break;
  }

  // Declared parameters first, then the others in order of appearance.
  out.parameterSlots.assign(ctx_.parameters.size(), 0);
  for (int pass = 0; pass < 2; ++pass) {
    for (size_t id = 0; id < ctx_.parameters.size(); ++id) {
      const ParameterEntry& p = ctx_.parameters[id];
      if (p.declared != (pass == 0)) continue;
      out.parameterSlots[id] = static_cast<int>(out.parameters.size());
      out.parameters.push_back({p.name, p.type});
    }
  }
  return out;
}

}  // namespace binding

bound::Statement bindStatement(const ast::Statement& statement, std::string_view text, const Catalog& catalog) {
  binding::BindContext context{catalog, {}, {}, 0};
  binding::Binder binder(context, text, nullptr);
  return binder.statement(statement);
}

}  // namespace oskara::db::sql

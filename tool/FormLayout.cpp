#include "tool/FormLayout.h"

#include <stdexcept>

namespace pesoconf::layout {

int StripTop(Strip s) {
    for (const StripDef& st : Strips)
        if (st.strip == s) return st.top;
    return 0;
}

const ControlDef& Find(Ctl c) {
    for (const ControlDef& def : Controls)
        if (def.id == c) return def;
    throw std::out_of_range("no such control");
}

bool VisibleAtStart(const ControlDef& def) { return def.view != View::Ap; }

}  // namespace pesoconf::layout

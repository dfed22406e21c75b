#include "tool/FormLayout.h"

#include <stdexcept>

namespace pesoconf::layout {

int StripTop(Strip s) {
    for (const StripSpec& st : Strips)
        if (st.strip == s) return st.top;
    return 0;
}

const ControlSpec& Spec(Ctl c) {
    for (const ControlSpec& spec : Controls)
        if (spec.id == c) return spec;
    throw std::out_of_range("no such control");
}

bool VisibleAtStart(const ControlSpec& spec) { return spec.view != View::Ap; }

}  // namespace pesoconf::layout

// Applies a form stream's object tree to a component: the root record's
// properties to the component itself, each child record's to the owned
// component of that name (children of children likewise; all of them are
// owned by the root, as on a form). Dotted names ("Font.Name") reach into
// object properties. Values are converted to the property's kind; what no
// published property takes goes to the class's ReadStreamedProperty.
// The module's forms are part of the library, so anything that does not fit
// is a fault of the build and raises EPropertyError.
#pragma once

#include <string_view>

#include "common/component.h"
#include "common/form_stream.h"

namespace corvane {

void LoadComponentFromForm(TComponent& root, const TFormObject& form);

}  // namespace corvane

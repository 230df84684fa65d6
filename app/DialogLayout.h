#pragma once

#include <cstddef>

// A dialog template as the program's code sees it: its title and, per control, the kind, text and
// initial state. The headless backend builds its controls from it; the upgrade dialog's is read
// from the resource script that Windows loads (see app/CMakeLists.txt).
struct DialogControl {
    enum class Kind { ComboBox, Edit, PushButton, ProgressBar };
    int Id;
    Kind ControlKind;
    const char* Text;
    bool Visible;
    bool Enabled;
};

struct DialogLayout {
    int TemplateId;
    const char* Title;
    const DialogControl* Controls;
    size_t ControlCount;
};

// Template 102, the upgrade dialog: its controls in template (and tab) order.
const DialogLayout& UpgradeDialogLayout();

#include "app/DialogLayout.h"

namespace {

#include "app/UpgradeDialogTemplate.inc"

const DialogLayout Layout = {TemplateFromResources, TitleFromResources, ControlsFromResources,
                             sizeof ControlsFromResources / sizeof ControlsFromResources[0]};

}  // namespace

const DialogLayout& UpgradeDialogLayout() {
    return Layout;
}
